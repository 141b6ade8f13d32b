// The token table check on arbitrary text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/token_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string reason;
    const bool ok = ValidateTokens(reinterpret_cast<const char*>(data), size, reason);
    if (ok != reason.empty()) {
        std::abort();
    }
    for (std::size_t i = 0; ok && i < size; ++i) {
        if (data[i] < 0x20 && data[i] != '\t' && data[i] != '\n' && data[i] != '\r') {
            std::abort();  // a binary byte got through
        }
    }
    return 0;
}
