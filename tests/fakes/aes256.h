// A small AES-256 (FIPS-197) with CBC and PKCS#7 padding, the same on every platform: the fake
// crypto layer and the tests' reference encryption use it, so that unit tests behave alike on
// Linux and under Wine (whose bcrypt checks padding more loosely than Windows does).
// Slow and not hardened against timing; for test data only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fake {

class Aes256 {
  public:
    static constexpr std::size_t kKeySize = 32;
    static constexpr std::size_t kBlockSize = 16;

    explicit Aes256(const std::uint8_t* key);

    void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const;
    void DecryptBlock(const std::uint8_t* in, std::uint8_t* out) const;

  private:
    std::uint8_t round_keys_[15 * kBlockSize];
};

// CBC from `iv` (16 bytes), PKCS#7 padded: the output is 16 * (n / 16 + 1) bytes.
std::vector<std::uint8_t> CbcEncrypt(const std::uint8_t* key, const std::uint8_t* iv,
                                     const std::uint8_t* plain, std::size_t size);
// False when `size` is not a positive multiple of 16 or the padding does not check out.
bool CbcDecrypt(const std::uint8_t* key, const std::uint8_t* iv, const std::uint8_t* cipher,
                std::size_t size, std::vector<std::uint8_t>* plain);

}  // namespace fake
