// The container loader on arbitrary bytes, through the real AES layer. Each input is parsed as it
// is, and again with a header made to fit its size, so that most inputs also reach decryption.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/config_container.h"

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void Parse(const std::uint8_t* data, std::size_t size) {
    ConfigPayload payload;
    payload.tokens = {1};
    payload.keywords = {2};
    std::string reason;
    if (ParseEncryptedConfig(data, size, &payload, &reason)) {
        // What loads has the lengths its header announced.
        if (payload.tokens.size() != Le32(data + 24) ||
            payload.keywords.size() != Le32(data + 28) || !reason.empty()) {
            std::abort();
        }
    } else if (reason.empty() || payload.tokens.size() != 1 || payload.keywords.size() != 1) {
        std::abort();  // a failure without a reason, or one that touched the payload
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Parse(data, size);
    if (size < kConfigHeaderSize + 32 || (size - kConfigHeaderSize) % 16 != 0) {
        return 0;
    }
    std::vector<std::uint8_t> fitted(data, data + size);
    const std::size_t blocks = (size - kConfigHeaderSize) / 16;
    const std::size_t tokens_blocks = 1 + data[24] % (blocks - 1);
    const std::size_t keywords_blocks = blocks - tokens_blocks;
    // Any length from 16 (b - 1) to 16 b - 1 pads to b blocks.
    PutLe32(fitted.data(), kConfigMagic);
    PutLe32(fitted.data() + 4, kConfigVersion);
    PutLe32(fitted.data() + 24, static_cast<std::uint32_t>(tokens_blocks * 16 - 1 - data[25] % 16));
    PutLe32(fitted.data() + 28,
            static_cast<std::uint32_t>(keywords_blocks * 16 - 1 - data[29] % 16));
    Parse(fitted.data(), fitted.size());
    return 0;
}
