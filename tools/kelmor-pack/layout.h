// Laying out a deployment folder: the model files under the library's fixed names and the
// configuration container, in DEST/sherpa-onnx/.
#pragma once

#include <string>

struct LayoutRequest {
    std::string model_dir;
    std::string keywords_text;  // keyword lines (already turned from phrases, if need be)
    std::string tokens_path;    // empty: MODEL_DIR/tokens.txt
    std::string encoder;        // empty: found in MODEL_DIR
    std::string decoder;
    std::string joiner;
    std::string dest;
};

struct LayoutResult {
    std::string folder;                    // DEST/sherpa-onnx
    std::string encoder, decoder, joiner;  // the model files that were copied
};

// Finds the three model files (the only top-level candidate of each, or the one whose
// quantisation matches the library's file name), copies them into DEST/sherpa-onnx/ under the
// library's names and packs the token table and the keywords into its container. Every file is
// replaced atomically.
bool LayoutModel(const LayoutRequest& request, LayoutResult* result, std::string* reason);
