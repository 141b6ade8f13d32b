// AES-256-CBC through CNG, and containers going between Linux (OpenSSL) and Windows (CNG)
// through kelmor-pack. What Wine's CNG does differently from Windows (the IV left behind, how
// strictly padding is checked) is not looked at here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "aes256.h"
#include "config/config_container.h"
#include "pack.h"
#include "platform/aes_cbc.h"
#include "win32_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kTokens =
    "<blk> 0\n<sos/eos> 1\n<unk> 2\n\xE2\x96\x81HE 3\nY 4\n\xE2\x96\x81KEL 5\nMOR 6\n";
const std::string kKeywords =
    "\xE2\x96\x81HE Y \xE2\x96\x81KEL MOR @HEY_KELMOR\n\xE2\x96\x81KEL MOR :1.5 #0.25\n";

// `kelmor-pack pack` on Linux (OpenSSL) with the two texts above.
const std::uint8_t kLinuxContainer[] = {
    0x4b, 0x4d, 0x4b, 0x31, 0x02, 0x00, 0x00, 0x00, 0x2a, 0x75, 0xaf, 0x93, 0x4d, 0xe2, 0x00, 0xed,
    0xd2, 0x38, 0x6a, 0x0d, 0xf3, 0x53, 0x93, 0x74, 0x37, 0x00, 0x00, 0x00, 0x35, 0x00, 0x00, 0x00,
    0x84, 0x05, 0x4c, 0x65, 0xa3, 0x7b, 0x3d, 0x5f, 0xfe, 0xd0, 0x4d, 0xcc, 0x05, 0x13, 0x87, 0xee,
    0xf7, 0xb1, 0xfc, 0xa1, 0xa9, 0x3b, 0x0e, 0xb9, 0x95, 0x6e, 0xa7, 0xc3, 0xe9, 0x3d, 0xb2, 0x37,
    0x9d, 0x4a, 0xb1, 0x31, 0xad, 0x5b, 0xb0, 0x2f, 0xcc, 0x51, 0x57, 0xb9, 0xce, 0x09, 0x63, 0x7f,
    0x54, 0x82, 0xde, 0x8c, 0x47, 0xcb, 0x52, 0xc9, 0xce, 0xbe, 0x94, 0xe4, 0x02, 0xf8, 0x67, 0xda,
    0xba, 0x54, 0x7b, 0xc5, 0xc9, 0xc1, 0x57, 0x12, 0xfa, 0x03, 0xa6, 0x48, 0xfb, 0x5a, 0x42, 0xb7,
    0xa6, 0xe6, 0xb5, 0xc4, 0xbc, 0x8b, 0x97, 0x9c, 0x69, 0x18, 0xfe, 0xb7, 0x57, 0x8b, 0x24, 0xbb,
    0x4a, 0xa3, 0xb6, 0x89, 0xa7, 0x80, 0x2d, 0x3c, 0x59, 0x5c, 0x7b, 0x4c, 0xa3, 0x4c, 0xcb, 0x8d,
    0x09, 0x0f, 0x17, 0x21, 0x6f, 0x32, 0xad, 0x76, 0x6e, 0xb6, 0xf1, 0xde, 0xeb, 0xb4, 0x18, 0x7d};

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The C runtime writes text-mode line ends.
std::string WithoutCr(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// NIST SP 800-38A F.2.5, first two blocks.
TEST(Win32AesCbcTest, CngStepsEncryptAndDecryptTheStandardVector) {
    const std::uint8_t key[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                                  0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                                  0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
    const Bytes plain = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96, 0xe9, 0x3d, 0x7e,
                         0x11, 0x73, 0x93, 0x17, 0x2a, 0xae, 0x2d, 0x8a, 0x57, 0x1e, 0x03,
                         0xac, 0x9c, 0x9e, 0xb7, 0x6f, 0xac, 0x45, 0xaf, 0x8e, 0x51};
    const Bytes expected = {0xf5, 0x8c, 0x4c, 0x04, 0xd6, 0xe5, 0xf1, 0xba, 0x77, 0x9e, 0xab,
                            0xfb, 0x5f, 0x7b, 0xfb, 0xd6, 0x9c, 0xfc, 0x4e, 0x96, 0x7e, 0xdb,
                            0x80, 0x8d, 0x67, 0x9f, 0x77, 0x7b, 0xc6, 0x70, 0x2c, 0x7d};
    std::uint8_t iv[16];

    platform::CryptAlgorithm algorithm = nullptr;
    platform::CryptKey handle = nullptr;
    ASSERT_FALSE(platform::CryptFailed(platform::AesOpenProvider(&algorithm)));
    ASSERT_FALSE(platform::CryptFailed(platform::AesSetCbcChaining(algorithm)));
    ASSERT_FALSE(platform::CryptFailed(platform::AesGenerateKey(algorithm, key, 32, &handle)));

    std::uint32_t needed = 0;
    for (std::uint8_t i = 0; i < 16; ++i)
        iv[i] = i;
    ASSERT_FALSE(platform::CryptFailed(
        platform::AesEncrypt(handle, plain.data(), 32, iv, 16, nullptr, 0, &needed)));
    EXPECT_EQ(needed, 48u);  // a whole padding block
    Bytes cipher(needed);
    std::uint32_t written = 0;
    for (std::uint8_t i = 0; i < 16; ++i)
        iv[i] = i;
    ASSERT_FALSE(platform::CryptFailed(
        platform::AesEncrypt(handle, plain.data(), 32, iv, 16, cipher.data(), needed, &written)));
    ASSERT_EQ(written, 48u);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 32), expected);

    for (std::uint8_t i = 0; i < 16; ++i)
        iv[i] = i;
    ASSERT_FALSE(platform::CryptFailed(
        platform::AesDecrypt(handle, cipher.data(), 48, iv, 16, nullptr, 0, &needed)));
    EXPECT_GE(needed, 32u);
    Bytes back(needed);
    for (std::uint8_t i = 0; i < 16; ++i)
        iv[i] = i;
    ASSERT_FALSE(platform::CryptFailed(
        platform::AesDecrypt(handle, cipher.data(), 48, iv, 16, back.data(), needed, &written)));
    back.resize(written);
    EXPECT_EQ(back, plain);

    EXPECT_FALSE(platform::CryptFailed(platform::AesDestroyKey(handle)));
    EXPECT_FALSE(platform::CryptFailed(platform::AesCloseProvider(algorithm)));
}

TEST(Win32AesCbcTest, ReadsAContainerWrittenOnLinux) {
    const win32_test::TempFolder folder;
    const std::wstring path = folder.path() + L"\\kelmor_config.bin";
    win32_test::WriteFileBytes(path,
                               std::string(std::begin(kLinuxContainer), std::end(kLinuxContainer)));
    ConfigPayload payload;
    std::string reason;
    ASSERT_TRUE(LoadEncryptedConfig(win32_test::Utf8(path), &payload, &reason)) << reason;
    EXPECT_EQ(payload.tokens, ToBytes(kTokens));
    EXPECT_EQ(payload.keywords, ToBytes(kKeywords));
}

// What Windows writes is standard AES-256-CBC with PKCS#7 padding, byte for byte: Linux reads it.
TEST(Win32AesCbcTest, WritesContainersInTheStandardCipher) {
    const win32_test::TempFolder folder;
    const std::string path = win32_test::Utf8(folder.path() + L"\\kelmor_config.bin");
    std::string reason;
    ASSERT_TRUE(PackContainer(kTokens, kKeywords, path, &reason)) << reason;
    const std::string bytes = win32_test::ReadFileBytes(win32_test::FromUtf8(path));
    ASSERT_GE(bytes.size(), kConfigHeaderSize);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

    std::uint8_t key[kConfigKeySize];
    BuildConfigKey(key);
    const std::uint8_t* iv = data + kConfigIvOffset;
    Bytes expected(data, data + kConfigHeaderSize);
    for (const std::string* text : {&kTokens, &kKeywords}) {
        const Bytes part = fake::CbcEncrypt(
            key, iv, reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(Bytes(data, data + bytes.size()), expected);
}

TEST(Win32AesCbcTest, KelmorPackExePacksAndChecksWithoutPhrases) {
    const win32_test::TempFolder folder;
    const std::wstring dir = folder.path();
    win32_test::WriteFileBytes(dir + L"\\tokens.txt", kTokens);
    win32_test::WriteFileBytes(dir + L"\\keywords.txt", kKeywords);
    win32_test::WriteFileBytes(dir + L"\\phrases.txt", "hey kelmor\n");
    const std::wstring pack = L"\"" + win32_test::ProgramFolder() + L"\\kelmor-pack.exe\" ";
    const std::wstring out = L"\"" + dir + L"\\kelmor_config.bin\"";

    std::string output;
    EXPECT_EQ(win32_test::RunProcess(pack + L"pack --tokens \"" + dir + L"\\tokens.txt\" " +
                                         L"--keywords \"" + dir + L"\\keywords.txt\" --out " + out,
                                     &output),
              0)
        << output;
    EXPECT_EQ(WithoutCr(output), "tokens=7 keywords=2\n");

    output.clear();
    EXPECT_EQ(win32_test::RunProcess(pack + L"check " + out, &output), 0) << output;
    EXPECT_EQ(WithoutCr(output), "tokens=7 keywords=2\n");

    output.clear();
    EXPECT_EQ(win32_test::RunProcess(pack + L"pack --tokens \"" + dir + L"\\tokens.txt\" " +
                                         L"--phrases \"" + dir + L"\\phrases.txt\" --bpe-model \"" +
                                         dir + L"\\bpe.model\" --out " + out,
                                     &output),
              1);
    EXPECT_NE(output.find("--phrases is not available"), std::string::npos) << output;

    output.clear();
    EXPECT_EQ(win32_test::RunProcess(pack + L"--help", &output), 0);
    EXPECT_NE(output.find("--phrases is not available"), std::string::npos) << output;
}

}  // namespace
