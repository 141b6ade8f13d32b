#include "config/config_container.h"

#include <cstring>
#include <fstream>
#include <utility>

#include "config/config_cipher.h"
#include "platform/aes_cbc.h"

namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint64_t PaddedLength(std::uint64_t n) {
    return 16 * (n / 16 + 1);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string* reason) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        SetReason(reason, "failed to open file: " + path);
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (!file || size < 0) {
        SetReason(reason, "failed to read file size: " + path);
        return false;
    }
    if (static_cast<std::uint64_t>(size) > kMaxConfigFileSize) {
        SetReason(reason, "config file too large: " + path);
        return false;
    }
    file.seekg(0, std::ios::beg);
    bytes.assign(static_cast<std::size_t>(size), 0);
    file.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!file || file.gcount() != size) {
        SetReason(reason, "failed to read file: " + path);
        return false;
    }
    return true;
}

bool DecryptAesCbc(const std::uint8_t* ciphertext, std::size_t count, const std::uint8_t* iv,
                   std::vector<std::uint8_t>& plaintext, std::string* reason) {
    std::uint8_t local_iv[kConfigIvSize];
    std::memcpy(local_iv, iv, sizeof local_iv);

    ConfigCipher cipher;
    bool ok = false;
    std::string failure;
    if (cipher.Open(&failure)) {
        std::uint32_t needed = 0;
        // A count beyond the interface's 32-bit sizes cannot be described to it at all.
        if (count > UINT32_MAX || platform::CryptFailed(platform::AesDecrypt(
                                      cipher.key(), ciphertext, static_cast<std::uint32_t>(count),
                                      local_iv, sizeof local_iv, nullptr, 0, &needed))) {
            failure = "BCryptDecrypt size query failed";
        } else {
            plaintext.assign(needed, 0);
            // The size query may have used the IV buffer.
            std::memcpy(local_iv, iv, sizeof local_iv);
            std::uint32_t written = 0;
            const platform::CryptStatus status =
                platform::AesDecrypt(cipher.key(), ciphertext, static_cast<std::uint32_t>(count),
                                     local_iv, sizeof local_iv, plaintext.data(), needed, &written);
            if (platform::CryptFailed(status) || written > needed) {
                failure = "BCryptDecrypt failed";
            } else {
                plaintext.resize(written);
                ok = true;
            }
        }
    }
    if (!ok) {
        SetReason(reason, std::move(failure));
    }
    return ok;
}

bool ParseEncryptedConfig(const std::uint8_t* data, std::size_t size, ConfigPayload* payload,
                          std::string* reason) {
    if (payload == nullptr) {
        SetReason(reason, "output payload is null");
        return false;
    }
    if (size < kConfigHeaderSize) {
        SetReason(reason, "config file too small");
        return false;
    }
    if (ReadLe32(data) != kConfigMagic) {
        SetReason(reason, "invalid config magic");
        return false;
    }
    if (ReadLe32(data + 4) != kConfigVersion) {
        SetReason(reason, "unsupported config version");
        return false;
    }
    const std::uint32_t tokens_length = ReadLe32(data + 24);
    const std::uint32_t keywords_length = ReadLe32(data + 28);
    if (tokens_length == 0 || keywords_length == 0) {
        SetReason(reason, "invalid payload length");
        return false;
    }
    const std::uint64_t tokens_padded = PaddedLength(tokens_length);
    const std::uint64_t keywords_padded = PaddedLength(keywords_length);
    if (size != kConfigHeaderSize + tokens_padded + keywords_padded) {
        SetReason(reason, "config file size mismatch");
        return false;
    }
    const std::uint8_t* iv = data + kConfigIvOffset;
    const std::uint8_t* tokens_cipher = data + kConfigHeaderSize;
    std::vector<std::uint8_t> tokens;
    if (!DecryptAesCbc(tokens_cipher, static_cast<std::size_t>(tokens_padded), iv, tokens,
                       reason)) {
        return false;
    }
    std::vector<std::uint8_t> keywords;
    if (!DecryptAesCbc(tokens_cipher + tokens_padded, static_cast<std::size_t>(keywords_padded), iv,
                       keywords, reason)) {
        return false;
    }
    if (tokens.size() != tokens_length || keywords.size() != keywords_length) {
        SetReason(reason, "decrypted payload length mismatch");
        return false;
    }
    payload->tokens = std::move(tokens);
    payload->keywords = std::move(keywords);
    return true;
}

bool LoadEncryptedConfig(const std::string& path, ConfigPayload* payload, std::string* reason) {
    if (payload == nullptr) {
        SetReason(reason, "output payload is null");
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, reason)) {
        return false;
    }
    return ParseEncryptedConfig(bytes.data(), bytes.size(), payload, reason);
}
