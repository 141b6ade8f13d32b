#include "layout.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "config/config_container.h"
#include "engine/model_files.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

bool IsInt8(const std::string& name) {
    return name.find(".int8.") != std::string::npos;
}

// The model file of one kind ("encoder", ...) in `dir`: the only top-level `KIND*.onnx`, or
// else the only one whose quantisation matches `library_name`.
bool FindModelFile(const fs::path& dir, const std::string& kind, const std::string& library_name,
                   std::string* found, std::string* reason) {
    std::vector<std::string> candidates;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind(kind, 0) == 0 &&
            entry.path().extension() == ".onnx") {
            candidates.push_back(name);
        }
    }
    if (error) {
        *reason = "cannot list model folder " + dir.string() + ": " + error.message();
        return false;
    }
    if (candidates.size() > 1) {
        std::vector<std::string> matching;
        for (const std::string& name : candidates) {
            if (IsInt8(name) == IsInt8(library_name)) {
                matching.push_back(name);
            }
        }
        candidates = matching;
    }
    if (candidates.size() != 1) {
        *reason = (candidates.empty() ? "no " : "more than one ") + kind + " model in " +
                  dir.string() + "; name it with --" + kind;
        return false;
    }
    *found = (dir / candidates[0]).string();
    return true;
}

bool CopyAtomically(const fs::path& from, const fs::path& to, std::string* reason) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(from.string(), bytes, reason)) {
        return false;
    }
    return WriteFileAtomically(to.string(), bytes, reason);
}

std::string Resolve(const std::string& dir, const std::string& path) {
    return fs::path(path).is_absolute() ? path : (fs::path(dir) / path).string();
}

}  // namespace

bool LayoutModel(const LayoutRequest& request, LayoutResult* result, std::string* reason) {
    const fs::path model_dir(request.model_dir);
    struct Part {
        const char* kind;
        const std::string& given;
        const char* library_name;
        std::string* source;
    } parts[] = {
        {"encoder", request.encoder, model_files::kEncoder, &result->encoder},
        {"decoder", request.decoder, model_files::kDecoder, &result->decoder},
        {"joiner", request.joiner, model_files::kJoiner, &result->joiner},
    };
    for (Part& part : parts) {
        if (!part.given.empty()) {
            *part.source = Resolve(request.model_dir, part.given);
        } else if (!FindModelFile(model_dir, part.kind, part.library_name, part.source, reason)) {
            return false;
        }
    }

    const std::string tokens_path = request.tokens_path.empty()
                                        ? (model_dir / "tokens.txt").string()
                                        : Resolve(request.model_dir, request.tokens_path);
    std::vector<std::uint8_t> tokens;
    if (!ReadWholeFile(tokens_path, tokens, reason)) {
        return false;
    }

    const fs::path folder = fs::path(request.dest) / model_files::kFolder;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        *reason = "cannot create " + folder.string() + ": " + error.message();
        return false;
    }
    result->folder = folder.string();

    // The container first: it refuses texts the library would refuse, before anything is copied.
    if (!PackContainer(std::string(tokens.begin(), tokens.end()), request.keywords_text,
                       (folder / model_files::kConfig).string(), reason)) {
        return false;
    }
    for (const Part& part : parts) {
        if (!CopyAtomically(*part.source, folder / part.library_name, reason)) {
            return false;
        }
    }
    return true;
}
