// One AES-256-CBC session with the container key, through the platform's steps: the provider,
// CBC chaining, then the key. Both handles are released when the session ends, the key first.
#pragma once

#include <string>

#include "platform/aes_cbc.h"

class ConfigCipher {
  public:
    ConfigCipher() = default;
    ~ConfigCipher();
    ConfigCipher(const ConfigCipher&) = delete;
    ConfigCipher& operator=(const ConfigCipher&) = delete;

    // Runs the three steps. On failure answers false and puts into `failure` the reason naming
    // the refused step ("BCryptOpenAlgorithmProvider failed", "BCryptSetProperty CBC failed",
    // "BCryptGenerateSymmetricKey failed").
    bool Open(std::string* failure);

    platform::CryptKey key() const { return key_; }

  private:
    platform::CryptAlgorithm algorithm_ = nullptr;
    platform::CryptKey key_ = nullptr;
};
