// The tests' own AES holds up the container tests, so it is held to published vectors here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aes256.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

const Bytes kKey = Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kIv = Hex("000102030405060708090a0b0c0d0e0f");

TEST(Aes256Test, MatchesTheFips197Block) {
    const Bytes key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const Bytes plain = Hex("00112233445566778899aabbccddeeff");
    const fake::Aes256 aes(key.data());
    Bytes cipher(16);
    aes.EncryptBlock(plain.data(), cipher.data());
    EXPECT_EQ(cipher, Hex("8ea2b7ca516745bfeafc49904b496089"));
    Bytes back(16);
    aes.DecryptBlock(cipher.data(), back.data());
    EXPECT_EQ(back, plain);
}

// SP 800-38A F.2.5 (two blocks, then the padding block), and a short text as OpenSSL pads it.
TEST(Aes256Test, CbcMatchesPublishedAndOpenSslOutput) {
    const Bytes plain = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    const Bytes cipher = fake::CbcEncrypt(kKey.data(), kIv.data(), plain.data(), plain.size());
    ASSERT_EQ(cipher.size(), 48u);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 32),
              Hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"));

    const std::string text = "kelmor";
    const Bytes short_cipher = fake::CbcEncrypt(
        kKey.data(), kIv.data(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    EXPECT_EQ(short_cipher, Hex("fb49f8042447c27185724ee49d7a571f"));

    Bytes back;
    ASSERT_TRUE(fake::CbcDecrypt(kKey.data(), kIv.data(), cipher.data(), cipher.size(), &back));
    EXPECT_EQ(back, plain);
}

TEST(Aes256Test, DecryptRefusesBadSizesAndBadPadding) {
    const Bytes plain(20, 0x42);
    const Bytes cipher = fake::CbcEncrypt(kKey.data(), kIv.data(), plain.data(), plain.size());
    Bytes out = {7};
    EXPECT_FALSE(fake::CbcDecrypt(kKey.data(), kIv.data(), cipher.data(), 0, &out));
    EXPECT_FALSE(fake::CbcDecrypt(kKey.data(), kIv.data(), cipher.data(), 17, &out));
    Bytes other_key = kKey;
    other_key[31] ^= 1;
    // A wrong key garbles the last block, whose padding then (almost surely) fails.
    EXPECT_FALSE(
        fake::CbcDecrypt(other_key.data(), kIv.data(), cipher.data(), cipher.size(), &out));
    EXPECT_EQ(out, Bytes{7});
}

}  // namespace
