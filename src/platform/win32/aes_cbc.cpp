// Windows: AES-CBC through CNG (bcrypt). Each operation is the one CNG call it is named after.
#include "platform/aes_cbc.h"

#include "windows_headers.h"
// windows_headers.h must come first.
#include <bcrypt.h>

namespace platform {

namespace {

PUCHAR Bytes(const std::uint8_t* bytes) {
    return const_cast<PUCHAR>(bytes);  // CNG does not write its input buffers
}

}  // namespace

CryptStatus AesOpenProvider(CryptAlgorithm* algorithm) {
    return BCryptOpenAlgorithmProvider(reinterpret_cast<BCRYPT_ALG_HANDLE*>(algorithm),
                                       BCRYPT_AES_ALGORITHM, nullptr, 0);
}

CryptStatus AesSetCbcChaining(CryptAlgorithm algorithm) {
    // The value is passed as a wide string with its terminator: 32 bytes.
    static const wchar_t kCbc[] = BCRYPT_CHAIN_MODE_CBC;
    return BCryptSetProperty(algorithm, BCRYPT_CHAINING_MODE,
                             reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kCbc)), sizeof kCbc, 0);
}

CryptStatus AesGenerateKey(CryptAlgorithm algorithm, const std::uint8_t* secret,
                           std::uint32_t secret_size, CryptKey* key) {
    // No key object buffer: the provider allocates it.
    return BCryptGenerateSymmetricKey(algorithm, reinterpret_cast<BCRYPT_KEY_HANDLE*>(key), nullptr,
                                      0, Bytes(secret), secret_size, 0);
}

CryptStatus AesDecrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    ULONG written = 0;
    const NTSTATUS status = BCryptDecrypt(key, Bytes(input), input_size, nullptr, iv, iv_size,
                                          output, output_size, &written, BCRYPT_BLOCK_PADDING);
    if (!CryptFailed(status)) {
        *result = written;
    }
    return status;
}

CryptStatus AesEncrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    ULONG written = 0;
    const NTSTATUS status = BCryptEncrypt(key, Bytes(input), input_size, nullptr, iv, iv_size,
                                          output, output_size, &written, BCRYPT_BLOCK_PADDING);
    if (!CryptFailed(status)) {
        *result = written;
    }
    return status;
}

CryptStatus AesDestroyKey(CryptKey key) {
    return BCryptDestroyKey(key);
}

CryptStatus AesCloseProvider(CryptAlgorithm algorithm) {
    return BCryptCloseAlgorithmProvider(algorithm, 0);
}

CryptStatus GenRandom(std::uint8_t* buffer, std::uint32_t size) {
    return BCryptGenRandom(nullptr, buffer, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
}

}  // namespace platform
