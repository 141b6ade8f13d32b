#include "config/config_cipher.h"

#include <cstdint>

#include "config/config_container.h"

namespace {

// Key material must not linger on the stack once the call is over.
void Wipe(std::uint8_t* bytes, std::size_t size) {
    volatile std::uint8_t* p = bytes;
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

}  // namespace

ConfigCipher::~ConfigCipher() {
    if (key_ != nullptr) {
        platform::AesDestroyKey(key_);
    }
    if (algorithm_ != nullptr) {
        platform::AesCloseProvider(algorithm_);
    }
}

bool ConfigCipher::Open(std::string* failure) {
    std::uint8_t key[kConfigKeySize];
    BuildConfigKey(key);
    bool ok = false;
    if (platform::CryptFailed(platform::AesOpenProvider(&algorithm_))) {
        algorithm_ = nullptr;
        *failure = "BCryptOpenAlgorithmProvider failed";
    } else if (platform::CryptFailed(platform::AesSetCbcChaining(algorithm_))) {
        *failure = "BCryptSetProperty CBC failed";
    } else if (platform::CryptFailed(
                   platform::AesGenerateKey(algorithm_, key, sizeof key, &key_))) {
        key_ = nullptr;
        *failure = "BCryptGenerateSymmetricKey failed";
    } else {
        ok = true;
    }
    Wipe(key, sizeof key);
    return ok;
}
