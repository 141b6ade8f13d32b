// Fake AES-CBC layer: see fake_aes_cbc.h.
#include <cstring>
#include <set>
#include <vector>

#include "aes256.h"
#include "fake_aes_cbc.h"

namespace fake {

AesCbcState& AesCbc() {
    static AesCbcState state;
    return state;
}

}  // namespace fake

namespace {

using Step = fake::AesCbcState::Step;

constexpr platform::CryptStatus kFailure = static_cast<platform::CryptStatus>(0xC0000001u);

struct FakeKey {
    std::vector<std::uint8_t> secret;
};

std::set<void*>& Providers() {
    static std::set<void*> live;
    return live;
}

std::set<void*>& Keys() {
    static std::set<void*> live;
    return live;
}

// Records the call and answers whether it is the one scripted to fail.
bool Fails(Step step, const char* name) {
    fake::AesCbcState& state = fake::AesCbc();
    state.calls.push_back(name);
    return state.fail_step == step && --state.fail_occurrence == 0;
}

bool Live(std::set<void*>& handles, void* handle) {
    if (handles.count(handle) != 0) {
        return true;
    }
    ++fake::AesCbc().bad_handles;
    return false;
}

platform::CryptStatus Crypt(bool encrypt, platform::CryptKey key, const std::uint8_t* input,
                            std::uint32_t input_size, std::uint8_t* iv, std::uint32_t iv_size,
                            std::uint8_t* output, std::uint32_t output_size,
                            std::uint32_t* result) {
    const bool size_query = output == nullptr;
    const Step step = encrypt ? (size_query ? Step::EncryptSizeQuery : Step::Encrypt)
                              : (size_query ? Step::DecryptSizeQuery : Step::Decrypt);
    const char* name = encrypt ? (size_query ? "EncryptSizeQuery" : "Encrypt")
                               : (size_query ? "DecryptSizeQuery" : "Decrypt");
    if (Fails(step, name) || !Live(Keys(), key) || iv_size != 16 ||
        (!encrypt && input_size % 16 != 0)) {
        return kFailure;
    }
    const std::uint32_t needed = encrypt ? (input_size / 16 + 1) * 16 : input_size;
    if (size_query) {
        *result = needed;
        // Scribble over the IV: a caller must restore it before the real call.
        std::memset(iv, 0xA5, iv_size);
        return 0;
    }
    if (output_size < needed) {
        return kFailure;
    }
    const FakeKey& fake_key = *static_cast<const FakeKey*>(key);
    if (fake_key.secret.size() != fake::Aes256::kKeySize) {
        return kFailure;
    }
    std::vector<std::uint8_t> out;
    if (encrypt) {
        out = fake::CbcEncrypt(fake_key.secret.data(), iv, input, input_size);
    } else if (!fake::CbcDecrypt(fake_key.secret.data(), iv, input, input_size, &out)) {
        return kFailure;
    }
    const std::uint32_t written = static_cast<std::uint32_t>(out.size());
    if (written > 0) {
        std::memcpy(output, out.data(), written);
    }
    *result = written;
    std::memcpy(iv, (encrypt ? output + written : input + input_size) - 16, 16);
    return 0;
}

}  // namespace

namespace platform {

CryptStatus AesOpenProvider(CryptAlgorithm* algorithm) {
    if (Fails(Step::OpenProvider, "OpenProvider")) {
        return kFailure;
    }
    *algorithm = new int(0);
    Providers().insert(*algorithm);
    ++fake::AesCbc().providers_open;
    return 0;
}

CryptStatus AesSetCbcChaining(CryptAlgorithm algorithm) {
    if (Fails(Step::SetCbcChaining, "SetCbcChaining") || !Live(Providers(), algorithm)) {
        return kFailure;
    }
    return 0;
}

CryptStatus AesGenerateKey(CryptAlgorithm algorithm, const std::uint8_t* secret,
                           std::uint32_t secret_size, CryptKey* key) {
    if (Fails(Step::GenerateKey, "GenerateKey") || !Live(Providers(), algorithm)) {
        return kFailure;
    }
    fake::AesCbc().key_size = static_cast<int>(secret_size);
    *key = new FakeKey{std::vector<std::uint8_t>(secret, secret + secret_size)};
    Keys().insert(*key);
    ++fake::AesCbc().keys_live;
    return 0;
}

CryptStatus AesDecrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    return Crypt(false, key, input, input_size, iv, iv_size, output, output_size, result);
}

CryptStatus AesEncrypt(CryptKey key, const std::uint8_t* input, std::uint32_t input_size,
                       std::uint8_t* iv, std::uint32_t iv_size, std::uint8_t* output,
                       std::uint32_t output_size, std::uint32_t* result) {
    return Crypt(true, key, input, input_size, iv, iv_size, output, output_size, result);
}

CryptStatus AesDestroyKey(CryptKey key) {
    fake::AesCbc().calls.push_back("DestroyKey");
    if (!Live(Keys(), key)) {
        return kFailure;
    }
    Keys().erase(key);
    delete static_cast<FakeKey*>(key);
    --fake::AesCbc().keys_live;
    return 0;
}

CryptStatus AesCloseProvider(CryptAlgorithm algorithm) {
    fake::AesCbc().calls.push_back("CloseProvider");
    if (!Live(Providers(), algorithm)) {
        return kFailure;
    }
    Providers().erase(algorithm);
    delete static_cast<int*>(algorithm);
    --fake::AesCbc().providers_open;
    return 0;
}

CryptStatus GenRandom(std::uint8_t* buffer, std::uint32_t size) {
    if (Fails(Step::GenRandom, "GenRandom")) {
        return kFailure;
    }
    // Predictable bytes: tests compare what was written.
    for (std::uint32_t i = 0; i < size; ++i) {
        buffer[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    return 0;
}

}  // namespace platform
