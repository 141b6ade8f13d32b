// The keyword list check on arbitrary text: the input is a token table, a zero byte, then the
// keyword list (without a zero byte, the input is the keyword list for a small fixed table).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/token_check.h"

namespace {
const char kTokens[] = "<blk> 0\n\xE2\x96\x81HE 1\nY 2\n:7 3\nLONE\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const void* split = std::memchr(text, 0, size);
    const char* tokens = kTokens;
    std::size_t tokens_size = sizeof kTokens - 1;
    const char* keywords = text;
    std::size_t keywords_size = size;
    if (split != nullptr) {
        tokens = text;
        tokens_size = static_cast<std::size_t>(static_cast<const char*>(split) - text);
        keywords = tokens + tokens_size + 1;
        keywords_size = size - tokens_size - 1;
    }
    std::string reason;
    const bool ok = ValidateKeywords(keywords, keywords_size, tokens, tokens_size, reason);
    if (ok != reason.empty()) {
        std::abort();
    }
    return 0;
}
