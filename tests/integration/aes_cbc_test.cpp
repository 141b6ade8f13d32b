// The real AES-CBC layer against the contract in platform/aes_cbc.h. Containers written on one
// platform are read on the other, so it must be standard AES-256-CBC with PKCS#7 padding.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/aes_cbc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// NIST SP 800-38A, F.2.5 (CBC-AES256.Encrypt).
const Bytes kKey = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                    0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                    0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
const Bytes kIv = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                   0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
const Bytes kPlain = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96, 0xe9, 0x3d, 0x7e, 0x11, 0x73,
                      0x93, 0x17, 0x2a, 0xae, 0x2d, 0x8a, 0x57, 0x1e, 0x03, 0xac, 0x9c, 0x9e, 0xb7,
                      0x6f, 0xac, 0x45, 0xaf, 0x8e, 0x51, 0x30, 0xc8, 0x1c, 0x46, 0xa3, 0x5c, 0xe4,
                      0x11, 0xe5, 0xfb, 0xc1, 0x19, 0x1a, 0x0a, 0x52, 0xef, 0xf6, 0x9f, 0x24, 0x45,
                      0xdf, 0x4f, 0x9b, 0x17, 0xad, 0x2b, 0x41, 0x7b, 0xe6, 0x6c, 0x37, 0x10};
const Bytes kCipher = {0xf5, 0x8c, 0x4c, 0x04, 0xd6, 0xe5, 0xf1, 0xba, 0x77, 0x9e, 0xab, 0xfb, 0x5f,
                       0x7b, 0xfb, 0xd6, 0x9c, 0xfc, 0x4e, 0x96, 0x7e, 0xdb, 0x80, 0x8d, 0x67, 0x9f,
                       0x77, 0x7b, 0xc6, 0x70, 0x2c, 0x7d, 0x39, 0xf2, 0x33, 0x69, 0xa9, 0xd9, 0xba,
                       0xcf, 0xa5, 0x30, 0xe2, 0x63, 0x04, 0x23, 0x14, 0x61, 0xb2, 0xeb, 0x05, 0xe2,
                       0xc3, 0x9b, 0xe9, 0xfc, 0xda, 0x6c, 0x19, 0x07, 0x8c, 0x6a, 0x9d, 0x1b};

class AesCbcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(platform::CryptFailed(platform::AesOpenProvider(&algorithm_)));
        ASSERT_FALSE(platform::CryptFailed(platform::AesSetCbcChaining(algorithm_)));
        ASSERT_FALSE(platform::CryptFailed(platform::AesGenerateKey(
            algorithm_, kKey.data(), static_cast<std::uint32_t>(kKey.size()), &key_)));
    }
    void TearDown() override {
        EXPECT_FALSE(platform::CryptFailed(platform::AesDestroyKey(key_)));
        EXPECT_FALSE(platform::CryptFailed(platform::AesCloseProvider(algorithm_)));
    }

    // Size query, then the call; answers the status of the call.
    platform::CryptStatus Run(bool encrypt, const Bytes& input, Bytes* iv, Bytes* output) {
        const auto op = encrypt ? platform::AesEncrypt : platform::AesDecrypt;
        std::uint32_t needed = 0;
        const platform::CryptStatus query =
            op(key_, input.data(), static_cast<std::uint32_t>(input.size()), iv->data(), 16,
               nullptr, 0, &needed);
        if (platform::CryptFailed(query)) {
            return query;
        }
        EXPECT_EQ(needed, encrypt ? (input.size() / 16 + 1) * 16 : input.size());
        output->assign(needed, 0);
        std::uint32_t written = 0;
        const platform::CryptStatus status =
            op(key_, input.data(), static_cast<std::uint32_t>(input.size()), iv->data(), 16,
               output->data(), needed, &written);
        if (!platform::CryptFailed(status)) {
            output->resize(written);
        }
        return status;
    }

    platform::CryptAlgorithm algorithm_ = nullptr;
    platform::CryptKey key_ = nullptr;
};

TEST_F(AesCbcTest, MatchesTheStandardVectorAndAddsAPaddingBlock) {
    Bytes iv = kIv;
    Bytes cipher;
    ASSERT_FALSE(platform::CryptFailed(Run(true, kPlain, &iv, &cipher)));
    ASSERT_EQ(cipher.size(), kPlain.size() + 16);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 64), kCipher);
    // The IV left behind chains on: the last ciphertext block.
    EXPECT_EQ(iv, Bytes(cipher.end() - 16, cipher.end()));

    iv = kIv;
    Bytes plain;
    ASSERT_FALSE(platform::CryptFailed(Run(false, cipher, &iv, &plain)));
    EXPECT_EQ(plain, kPlain);
}

TEST_F(AesCbcTest, RefusesPaddingThatDoesNotCheckOutAndPartialBlocks) {
    Bytes iv = kIv;
    Bytes plain = {7};
    // The standard vector has no padding block: its last block does not end in valid padding.
    EXPECT_TRUE(platform::CryptFailed(Run(false, kCipher, &iv, &plain)));
    EXPECT_EQ(iv, kIv);
    EXPECT_TRUE(
        platform::CryptFailed(Run(false, Bytes(kCipher.begin(), kCipher.end() - 1), &iv, &plain)));
}

}  // namespace
