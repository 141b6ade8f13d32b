// AES in CBC mode with PKCS#7 padding, after the Windows CNG (bcrypt) interface: each operation
// is one CNG call with the same arguments, so the Windows layer is a thin forward.
//
// Contract the configuration logic relies on:
// - Every operation answers a status; a negative value (as a signed 32-bit NTSTATUS) is failure,
//   and no operation has an effect when it fails.
// - AesOpenProvider hands out an algorithm handle that AesCloseProvider releases; AesGenerateKey
//   hands out a key handle that AesDestroyKey releases. The key is destroyed before its provider
//   is closed.
// - AesGenerateKey takes the raw key bytes (16, 24 or 32: AES-128, -192, -256) and keeps its own
//   copy.
// - AesDecrypt and AesEncrypt always pad (BCRYPT_BLOCK_PADDING). With `output` null they only
//   answer in `*result` the output size the call needs: for decryption the input size (padding
//   is known only once decrypted), for encryption the padded size. Otherwise they transform
//   `input` into `output`, answer in `*result` the bytes written (for decryption the plaintext
//   length once the padding is removed) and leave in `iv` the chaining value for a following
//   call, as CNG does. A padding that does not check out is a failure.
// - GenRandom fills `buffer` from the system's random generator.
#pragma once

#include <cstdint>

namespace platform {

using CryptStatus = std::int32_t;
using CryptAlgorithm = void*;  // BCRYPT_ALG_HANDLE
using CryptKey = void*;        // BCRYPT_KEY_HANDLE

inline bool CryptFailed(CryptStatus status) {
    return status < 0;
}

CryptStatus AesOpenProvider(CryptAlgorithm* algorithm);
CryptStatus AesSetCbcChaining(CryptAlgorithm algorithm);
CryptStatus AesGenerateKey(CryptAlgorithm algorithm, const std::uint8_t* secret,
                           std::uint32_t secret_size, CryptKey* key);
CryptStatus AesDecrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result);
CryptStatus AesEncrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result);
CryptStatus AesDestroyKey(CryptKey key);
CryptStatus AesCloseProvider(CryptAlgorithm algorithm);

CryptStatus GenRandom(std::uint8_t* buffer, std::uint32_t size);

}  // namespace platform
