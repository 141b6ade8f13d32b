// Spotter initialisation: model directory, configuration container, checks of both texts, then
// the keyword spotter, one keyword stream and the display.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/config_container.h"
#include "config/token_check.h"
#include "engine/engine_object.h"
#include "engine/model_directory.h"
#include "log/logger.h"
#include "platform/paths.h"

namespace {

constexpr std::int32_t kNumThreads = 1;
constexpr std::int32_t kEngineDebug = 1;
constexpr std::int32_t kMaxActivePaths = 8;
constexpr float kKeywordsScore = 1.5f;
constexpr float kKeywordsThreshold = -2.0f;
constexpr std::int32_t kDisplayWidth = 50;

struct FreeDeleter {
    void operator()(char* block) const { std::free(block); }
};
using HeapBlock = std::unique_ptr<char, FreeDeleter>;

const char* Text(const std::vector<std::uint8_t>& bytes) {
    return reinterpret_cast<const char*>(bytes.data());
}

}  // namespace

bool kelmor::init() {
    const char separator = static_cast<char>(platform::kPathSeparator);
    const std::string requested_dir = model_path + separator + model_files::kFolder + separator;
    const std::string sherpa_root_path = ResolveSherpaRootPath(requested_dir);
    Log(LogLevel::Debug, "sherpa_root_path (short): ", sherpa_root_path);

    ConfigPayload payload;
    std::string reason;
    if (!LoadEncryptedConfig(sherpa_root_path + config_file, &payload, &reason)) {
        Log(LogLevel::Error, "LoadEncryptedConfig failed: ", reason);
        return false;
    }
    Log(LogLevel::Debug, "config loaded, tokens=", payload.tokens.size(),
        ", keywords=", payload.keywords.size());

    reason.clear();
    if (!ValidateTokens(Text(payload.tokens), payload.tokens.size(), reason)) {
        Log(LogLevel::Error,
            "tokens validation failed, abort init to avoid sherpa exit(): ", reason);
        return false;
    }
    // The engine also ends the process on a keyword piece missing from the token table.
    reason.clear();
    if (!ValidateKeywords(Text(payload.keywords), payload.keywords.size(), Text(payload.tokens),
                          payload.tokens.size(), reason)) {
        Log(LogLevel::Error,
            "keywords validation failed, abort init to avoid sherpa exit(): ", reason);
        return false;
    }

    HeapBlock tokens_copy(static_cast<char*>(std::malloc(payload.tokens.size())));
    HeapBlock keywords_copy(static_cast<char*>(std::malloc(payload.keywords.size())));
    if (!tokens_copy || !keywords_copy) {
        Log(LogLevel::Error, "malloc failed for config buffers");
        return false;
    }
    std::memcpy(tokens_copy.get(), payload.tokens.data(), payload.tokens.size());
    std::memcpy(keywords_copy.get(), payload.keywords.data(), payload.keywords.size());

    encoder_path = sherpa_root_path + encoder_file;
    decoder_path = sherpa_root_path + decoder_file;
    joiner_path = sherpa_root_path + joiner_file;

    std::memset(&transducer_config, 0, sizeof transducer_config);
    transducer_config.encoder = encoder_path.c_str();
    transducer_config.decoder = decoder_path.c_str();
    transducer_config.joiner = joiner_path.c_str();

    std::memset(&model_config, 0, sizeof model_config);
    model_config.transducer = transducer_config;
    model_config.num_threads = kNumThreads;
    model_config.provider = provider;
    model_config.debug = kEngineDebug;
    model_config.tokens_buf = tokens_copy.get();
    model_config.tokens_buf_size = static_cast<std::int32_t>(payload.tokens.size());

    std::memset(&spotter_config, 0, sizeof spotter_config);
    spotter_config.model_config = model_config;
    spotter_config.max_active_paths = kMaxActivePaths;
    spotter_config.keywords_score = kKeywordsScore;
    spotter_config.keywords_threshold = kKeywordsThreshold;
    spotter_config.keywords_buf = keywords_copy.get();
    spotter_config.keywords_buf_size = static_cast<std::int32_t>(payload.keywords.size());

    spotter = SherpaOnnxCreateKeywordSpotter(&spotter_config);
    if (spotter == nullptr) {
        Log(LogLevel::Error, "SherpaOnnxCreateKeywordSpotter failed, please check your config!");
        return false;
    }
    stream = SherpaOnnxCreateKeywordStream(spotter);
    display = SherpaOnnxCreateDisplay(kDisplayWidth);

    Log(LogLevel::Info, "kelmor init success");
    return true;
}
