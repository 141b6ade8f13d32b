// The encrypted configuration container (kelmor_config.bin): a 32-byte header followed by the
// token table and the keyword list, each encrypted on its own with AES-256-CBC (PKCS#7 padding)
// from the header's IV.
//
// Operations that can fail answer false and, when a reason string is given, replace its content
// with a short message. Nothing here logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Container format.
constexpr std::uint32_t kConfigMagic = 0x314B4D4Bu;  // "KMK1" read as a little-endian value
constexpr std::uint32_t kConfigVersion = 2;
constexpr std::size_t kConfigHeaderSize = 32;
constexpr std::size_t kConfigIvOffset = 8;
constexpr std::size_t kConfigIvSize = 16;
constexpr std::size_t kConfigKeySize = 32;

// Largest container the library reads: the whole file is held in memory while it is checked and
// decrypted.
constexpr std::uint64_t kMaxConfigFileSize = 64ull * 1024 * 1024;

struct ConfigPayload {
    std::vector<std::uint8_t> tokens;    // the token table text, no terminator
    std::vector<std::uint8_t> keywords;  // the keyword list text, no terminator
};

// Reads, checks and decrypts the container at `path`. On success replaces both vectors of
// `payload`; on failure leaves it untouched.
bool LoadEncryptedConfig(const std::string& path, ConfigPayload* payload, std::string* reason);

// Checks and decrypts a container held in memory: LoadEncryptedConfig once the file is read.
bool ParseEncryptedConfig(const std::uint8_t* data, std::size_t size, ConfigPayload* payload,
                          std::string* reason);

// Reads the file at `path` whole into `bytes`. Refuses files larger than kMaxConfigFileSize
// before reading them.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string* reason);

// Decrypts `count` bytes with the container key from a copy of the 16-byte `iv` (which stays
// unchanged) and removes the padding.
bool DecryptAesCbc(const std::uint8_t* ciphertext, std::size_t count, const std::uint8_t* iv,
                   std::vector<std::uint8_t>& plaintext, std::string* reason);

// Forms the container key (kConfigKeySize bytes) from its two tables.
void BuildConfigKey(std::uint8_t* key);

// Length of n bytes after PKCS#7 padding to the 16-byte block: 16 * (n / 16 + 1).
std::uint64_t PaddedLength(std::uint64_t n);
