// The fixed names of the files the library expects in the "sherpa-onnx" folder beside it.
#pragma once

namespace model_files {

constexpr const char* kFolder = "sherpa-onnx";
constexpr const char* kEncoder = "encoder-epoch-13-avg-2-chunk-8-left-64.int8.onnx";
constexpr const char* kDecoder = "decoder-epoch-13-avg-2-chunk-8-left-64.onnx";
constexpr const char* kJoiner = "joiner-epoch-13-avg-2-chunk-8-left-64.int8.onnx";
constexpr const char* kConfig = "kelmor_config.bin";

}  // namespace model_files
