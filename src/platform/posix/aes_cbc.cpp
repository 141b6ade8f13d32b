// Linux: AES-CBC through OpenSSL's EVP interface, shaped like the CNG calls it stands in for.
#include "platform/aes_cbc.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace platform {

namespace {

// The NTSTATUS values CNG answers in the same situations.
constexpr CryptStatus kSuccess = 0;
constexpr CryptStatus kInvalidHandle = static_cast<CryptStatus>(0xC0000008u);
constexpr CryptStatus kInvalidParameter = static_cast<CryptStatus>(0xC000000Du);
constexpr CryptStatus kNoMemory = static_cast<CryptStatus>(0xC0000017u);
constexpr CryptStatus kBufferTooSmall = static_cast<CryptStatus>(0xC0000023u);
constexpr CryptStatus kDataError = static_cast<CryptStatus>(0xC000003Eu);
constexpr CryptStatus kUnsuccessful = static_cast<CryptStatus>(0xC0000001u);
constexpr CryptStatus kInvalidBufferSize = static_cast<CryptStatus>(0xC0000206u);

constexpr std::uint32_t kBlock = 16;
// EVP counts in int; keep the padded size and the scratch space within it.
constexpr std::uint32_t kMaxInput = INT_MAX - 2 * kBlock;

struct Provider {
    bool cbc = true;  // CNG's AES provider chains in CBC mode unless told otherwise
};

struct Key {
    const EVP_CIPHER* cipher = nullptr;
    std::uint8_t bytes[32] = {};
};

const EVP_CIPHER* CipherFor(std::uint32_t key_size) {
    switch (key_size) {
        case 16:
            return EVP_aes_128_cbc();
        case 24:
            return EVP_aes_192_cbc();
        case 32:
            return EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

class CipherContext {
  public:
    CipherContext() : ctx_(EVP_CIPHER_CTX_new()) {}
    ~CipherContext() { EVP_CIPHER_CTX_free(ctx_); }
    CipherContext(const CipherContext&) = delete;
    CipherContext& operator=(const CipherContext&) = delete;
    EVP_CIPHER_CTX* get() const { return ctx_; }

  private:
    EVP_CIPHER_CTX* ctx_;
};

// Runs one padded transformation of `input` into a scratch buffer (EVP may write up to one block
// more than it finally reports) and copies the result out only when the whole call succeeded.
CryptStatus Transform(const Key& key, bool encrypt, const std::uint8_t* input,
                      std::uint32_t input_size, std::uint8_t* iv, std::uint8_t* output,
                      std::uint32_t output_size, std::uint32_t* result) {
    CipherContext ctx;
    if (ctx.get() == nullptr) {
        return kNoMemory;
    }
    std::vector<std::uint8_t> scratch;
    try {
        scratch.resize(static_cast<std::size_t>(input_size) + 2 * kBlock);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    int first = 0;
    int last = 0;
    const bool ok =
        EVP_CipherInit_ex(ctx.get(), key.cipher, nullptr, key.bytes, iv, encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx.get(), 1) == 1 &&
        EVP_CipherUpdate(ctx.get(), scratch.data(), &first, input, static_cast<int>(input_size)) ==
            1 &&
        EVP_CipherFinal_ex(ctx.get(), scratch.data() + first, &last) == 1;
    CryptStatus status = kSuccess;
    const std::uint32_t written = static_cast<std::uint32_t>(first + last);
    if (!ok) {
        status = encrypt ? kUnsuccessful : kDataError;
    } else if (written > output_size) {
        status = kBufferTooSmall;
    } else {
        std::memcpy(output, scratch.data(), written);
        *result = written;
        // The chaining value for a following call: the last ciphertext block.
        const std::uint8_t* ciphertext = encrypt ? output : input;
        const std::uint32_t ciphertext_size = encrypt ? written : input_size;
        std::memcpy(iv, ciphertext + ciphertext_size - kBlock, kBlock);
    }
    OPENSSL_cleanse(scratch.data(), scratch.size());
    return status;
}

CryptStatus Crypt(CryptKey key, bool encrypt, const std::uint8_t* input, std::uint32_t input_size,
                  std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                  std::uint32_t output_size, std::uint32_t* result) {
    if (key == nullptr) {
        return kInvalidHandle;
    }
    if (result == nullptr || iv == nullptr || iv_size != kBlock ||
        (input == nullptr && input_size != 0)) {
        return kInvalidParameter;
    }
    if (!encrypt && input_size % kBlock != 0) {
        return kInvalidBufferSize;
    }
    if (input_size > kMaxInput) {
        return kInvalidBufferSize;
    }
    const std::uint32_t needed = encrypt ? (input_size / kBlock + 1) * kBlock : input_size;
    if (output == nullptr) {
        *result = needed;
        return kSuccess;
    }
    if (output_size < needed) {
        return kBufferTooSmall;
    }
    if (!encrypt && input_size == 0) {
        return kDataError;  // nothing to strip the padding from
    }
    return Transform(*static_cast<const Key*>(key), encrypt, input, input_size, iv, output,
                     output_size, result);
}

}  // namespace

CryptStatus AesOpenProvider(CryptAlgorithm* algorithm) {
    if (algorithm == nullptr) {
        return kInvalidParameter;
    }
    Provider* provider = new (std::nothrow) Provider();
    if (provider == nullptr) {
        return kNoMemory;
    }
    *algorithm = provider;
    return kSuccess;
}

CryptStatus AesSetCbcChaining(CryptAlgorithm algorithm) {
    if (algorithm == nullptr) {
        return kInvalidHandle;
    }
    static_cast<Provider*>(algorithm)->cbc = true;
    return kSuccess;
}

CryptStatus AesGenerateKey(CryptAlgorithm algorithm, const std::uint8_t* secret,
                           std::uint32_t secret_size, CryptKey* key) {
    if (algorithm == nullptr) {
        return kInvalidHandle;
    }
    const EVP_CIPHER* cipher = CipherFor(secret_size);
    if (key == nullptr || secret == nullptr || cipher == nullptr ||
        !static_cast<Provider*>(algorithm)->cbc) {
        return kInvalidParameter;
    }
    Key* created = new (std::nothrow) Key();
    if (created == nullptr) {
        return kNoMemory;
    }
    created->cipher = cipher;
    std::memcpy(created->bytes, secret, secret_size);
    *key = created;
    return kSuccess;
}

CryptStatus AesDecrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    return Crypt(key, false, input, input_size, iv, iv_size, output, output_size, result);
}

CryptStatus AesEncrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    return Crypt(key, true, input, input_size, iv, iv_size, output, output_size, result);
}

CryptStatus AesDestroyKey(CryptKey key) {
    if (key == nullptr) {
        return kInvalidHandle;
    }
    Key* owned = static_cast<Key*>(key);
    OPENSSL_cleanse(owned->bytes, sizeof owned->bytes);
    delete owned;
    return kSuccess;
}

CryptStatus AesCloseProvider(CryptAlgorithm algorithm) {
    if (algorithm == nullptr) {
        return kInvalidHandle;
    }
    delete static_cast<Provider*>(algorithm);
    return kSuccess;
}

CryptStatus GenRandom(std::uint8_t* buffer, std::uint32_t size) {
    if (buffer == nullptr && size != 0) {
        return kInvalidParameter;
    }
    std::uint32_t filled = 0;
    while (filled < size) {
        const ssize_t got = getrandom(buffer + filled, size - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kUnsuccessful;
        }
        filled += static_cast<std::uint32_t>(got);
    }
    return kSuccess;
}

}  // namespace platform
