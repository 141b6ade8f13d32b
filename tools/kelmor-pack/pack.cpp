#include "pack.h"

#include <utility>

#include "config/config_container.h"
#include "config/token_check.h"
#include "platform/aes_cbc.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

std::size_t NonBlankLines(const std::string& text) {
    std::size_t count = 0;
    bool blank = true;
    for (const char c : text) {
        if (c == '\n') {
            count += blank ? 0 : 1;
            blank = true;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
            blank = false;
        }
    }
    return count + (blank ? 0 : 1);
}

}  // namespace

ContainerSummary Summarize(const std::string& tokens, const std::string& keywords) {
    return {NonBlankLines(tokens), NonBlankLines(keywords)};
}

bool PackContainer(const std::string& tokens, const std::string& keywords,
                   const std::string& out_path, std::string* reason) {
    std::string check;
    if (!ValidateTokens(tokens.data(), tokens.size(), check) ||
        !ValidateKeywords(keywords.data(), keywords.size(), tokens.data(), tokens.size(), check)) {
        SetReason(reason, std::move(check));
        return false;
    }
    std::uint8_t iv[kConfigIvSize];
    if (platform::CryptFailed(platform::GenRandom(iv, sizeof iv))) {
        SetReason(reason, "failed to get random bytes for the IV");
        return false;
    }
    std::vector<std::uint8_t> container;
    return BuildContainer(tokens, keywords, iv, &container, reason) &&
           WriteFileAtomically(out_path, container, reason);
}

bool CheckContainer(const std::string& path, ContainerSummary* summary, std::string* reason) {
    ConfigPayload payload;
    if (!LoadEncryptedConfig(path, &payload, reason)) {
        return false;
    }
    const std::string tokens(payload.tokens.begin(), payload.tokens.end());
    const std::string keywords(payload.keywords.begin(), payload.keywords.end());
    std::string check;
    if (!ValidateTokens(tokens.data(), tokens.size(), check) ||
        !ValidateKeywords(keywords.data(), keywords.size(), tokens.data(), tokens.size(), check)) {
        SetReason(reason, std::move(check));
        return false;
    }
    *summary = Summarize(tokens, keywords);
    return true;
}
