// Container writing that goes through the platform layer only, so that the unit tests can run it
// against the fake one.
#include <cstring>
#include <utility>

#include "config/config_cipher.h"
#include "config/config_container.h"
#include "pack.h"
#include "platform/aes_cbc.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

void PutLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

bool EncryptAesCbc(const std::uint8_t* plaintext, std::size_t count, const std::uint8_t* iv,
                   std::vector<std::uint8_t>& ciphertext, std::string* reason) {
    std::uint8_t local_iv[kConfigIvSize];
    std::memcpy(local_iv, iv, sizeof local_iv);

    ConfigCipher cipher;
    std::string failure;
    if (cipher.Open(&failure)) {
        std::uint32_t needed = 0;
        if (count > UINT32_MAX || platform::CryptFailed(platform::AesEncrypt(
                                      cipher.key(), plaintext, static_cast<std::uint32_t>(count),
                                      local_iv, sizeof local_iv, nullptr, 0, &needed))) {
            failure = "BCryptEncrypt size query failed";
        } else {
            ciphertext.assign(needed, 0);
            std::memcpy(local_iv, iv, sizeof local_iv);
            std::uint32_t written = 0;
            if (platform::CryptFailed(platform::AesEncrypt(
                    cipher.key(), plaintext, static_cast<std::uint32_t>(count), local_iv,
                    sizeof local_iv, ciphertext.data(), needed, &written)) ||
                written != PaddedLength(count)) {
                failure = "BCryptEncrypt failed";
            }
        }
    }
    if (!failure.empty()) {
        SetReason(reason, std::move(failure));
        return false;
    }
    return true;
}

bool BuildContainer(const std::string& tokens, const std::string& keywords, const std::uint8_t* iv,
                    std::vector<std::uint8_t>* container, std::string* reason) {
    if (tokens.empty() || keywords.empty()) {
        SetReason(reason, tokens.empty() ? "token table is empty" : "keyword list is empty");
        return false;
    }
    const std::uint64_t size =
        kConfigHeaderSize + PaddedLength(tokens.size()) + PaddedLength(keywords.size());
    if (size > kMaxConfigFileSize) {
        SetReason(reason, "container would be larger than the library reads (64 MiB)");
        return false;
    }
    std::vector<std::uint8_t> tokens_cipher;
    std::vector<std::uint8_t> keywords_cipher;
    if (!EncryptAesCbc(reinterpret_cast<const std::uint8_t*>(tokens.data()), tokens.size(), iv,
                       tokens_cipher, reason) ||
        !EncryptAesCbc(reinterpret_cast<const std::uint8_t*>(keywords.data()), keywords.size(), iv,
                       keywords_cipher, reason)) {
        return false;
    }
    std::vector<std::uint8_t> bytes(kConfigHeaderSize);
    PutLe32(bytes.data(), kConfigMagic);
    PutLe32(bytes.data() + 4, kConfigVersion);
    std::memcpy(bytes.data() + kConfigIvOffset, iv, kConfigIvSize);
    PutLe32(bytes.data() + 24, static_cast<std::uint32_t>(tokens.size()));
    PutLe32(bytes.data() + 28, static_cast<std::uint32_t>(keywords.size()));
    bytes.insert(bytes.end(), tokens_cipher.begin(), tokens_cipher.end());
    bytes.insert(bytes.end(), keywords_cipher.begin(), keywords_cipher.end());
    *container = std::move(bytes);
    return true;
}
