#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "aes256.h"
#include "config/config_container.h"
#include "fake_aes_cbc.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Step = fake::AesCbcState::Step;

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The reference the loader is checked against: AES-256-CBC with PKCS#7 padding, computed apart
// from the platform layer (the fake layer only forwards to the same code; aes256_test.cpp holds
// it to published vectors).
Bytes Encrypt(const Bytes& plain, const std::uint8_t* key, const std::uint8_t* iv) {
    return fake::CbcEncrypt(key, iv, plain.data(), plain.size());
}

void PutLe32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A container as a writer would make it, with knobs for making it wrong.
struct ContainerRecipe {
    std::string tokens = "a 1\nb 2\n";
    std::string keywords = "a b @AB\n";
    std::uint32_t magic = kConfigMagic;
    std::uint32_t version = kConfigVersion;
    std::int64_t tokens_length = -1;    // header value; -1: the text's length
    std::int64_t keywords_length = -1;  // header value; -1: the text's length
    bool chain_keywords = false;        // keywords continue the tokens part's CBC chain
    bool other_key = false;
};

Bytes MakeContainer(const ContainerRecipe& recipe) {
    std::uint8_t key[kConfigKeySize];
    BuildConfigKey(key);
    if (recipe.other_key) {
        key[0] ^= 0x01;
    }
    std::uint8_t iv[kConfigIvSize];
    for (std::size_t i = 0; i < sizeof iv; ++i) {
        iv[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    const Bytes tokens = Encrypt(ToBytes(recipe.tokens), key, iv);
    const Bytes keywords = Encrypt(ToBytes(recipe.keywords), key,
                                   recipe.chain_keywords ? &tokens[tokens.size() - 16] : iv);
    Bytes bytes(kConfigHeaderSize);
    PutLe32(bytes, 0, recipe.magic);
    PutLe32(bytes, 4, recipe.version);
    std::copy(iv, iv + sizeof iv, bytes.begin() + kConfigIvOffset);
    PutLe32(bytes, 24,
            static_cast<std::uint32_t>(recipe.tokens_length < 0 ? recipe.tokens.size()
                                                                : recipe.tokens_length));
    PutLe32(bytes, 28,
            static_cast<std::uint32_t>(recipe.keywords_length < 0 ? recipe.keywords.size()
                                                                  : recipe.keywords_length));
    bytes.insert(bytes.end(), tokens.begin(), tokens.end());
    bytes.insert(bytes.end(), keywords.begin(), keywords.end());
    return bytes;
}

class ConfigContainerTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        dir_ = MakeTempDir("kelmor-config");
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        KelmorTest::TearDown();
    }

    std::string Write(const Bytes& bytes, const std::string& name = "kelmor_config.bin") {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Loads into a payload that already holds something, which a failure must leave alone.
    bool Load(const std::string& path, std::string* reason) {
        payload_.tokens = {'o', 'l', 'd'};
        payload_.keywords = {'O', 'L', 'D'};
        return LoadEncryptedConfig(path, &payload_, reason);
    }

    void ExpectPayloadUntouched() const {
        EXPECT_EQ(payload_.tokens, ToBytes("old"));
        EXPECT_EQ(payload_.keywords, ToBytes("OLD"));
    }

    void ExpectHandlesReleased() const {
        EXPECT_EQ(fake::AesCbc().providers_open, 0);
        EXPECT_EQ(fake::AesCbc().keys_live, 0);
        EXPECT_EQ(fake::AesCbc().bad_handles, 0);
    }

    std::filesystem::path dir_;
    ConfigPayload payload_;
};

TEST(PaddedLengthTest, AddsAWholeBlockToFullBlocksAndCannotWrap) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {0xFFFFFFFFu, 0x100000000u},
    };
    for (const auto& [n, padded] : cases) {
        EXPECT_EQ(PaddedLength(n), padded) << n;
    }
}

// One row per reason the loader can give, each with the smallest setup that produces it.
TEST_F(ConfigContainerTest, EveryFailureReasonLeavesThePayloadAndReleasesHandles) {
    struct Row {
        const char* name;
        std::function<std::string()> arrange;  // answers the path to load
        std::string reason;                    // "$" stands for the path
    };
    const auto good = [this] { return Write(MakeContainer({})); };
    const auto fail_at = [good](Step step, int occurrence = 1) {
        return [good, step, occurrence] {
            fake::AesCbc().fail_step = step;
            fake::AesCbc().fail_occurrence = occurrence;
            return good();
        };
    };
    const UnseekableFile unseekable;
    const Row rows[] = {
        {"missing file", [this] { return (dir_ / "absent.bin").string(); },
         "failed to open file: $"},
        // A pipe cannot seek: no end position.
        {"unseekable file", [&] { return unseekable.path(); }, "failed to read file size: $"},
        {"more than the size limit",
         [this] {
             const std::string path = Write({});
             std::filesystem::resize_file(path, kMaxConfigFileSize + 1);
             return path;
         },
         "config file too large: $"},
        {"empty file", [this] { return Write({}); }, "config file too small"},
        {"31 bytes", [this] { return Write(Bytes(31, 0)); }, "config file too small"},
        {"magic and version wrong",
         [this] {
             ContainerRecipe recipe;
             recipe.magic = 0x314B4D4C;
             recipe.version = 1;
             return Write(MakeContainer(recipe));
         },
         "invalid config magic"},
        {"version 1",
         [this] {
             ContainerRecipe recipe;
             recipe.version = 1;
             return Write(MakeContainer(recipe));
         },
         "unsupported config version"},
        {"version 3",
         [this] {
             ContainerRecipe recipe;
             recipe.version = 3;
             return Write(MakeContainer(recipe));
         },
         "unsupported config version"},
        {"header only, zero lengths",
         [this] {
             Bytes header = MakeContainer({});
             header.resize(kConfigHeaderSize);
             PutLe32(header, 24, 0);
             PutLe32(header, 28, 0);
             return Write(header);
         },
         "invalid payload length"},
        {"zero tokens length, size also wrong",
         [this] {
             ContainerRecipe recipe;
             recipe.tokens_length = 0;
             return Write(MakeContainer(recipe));
         },
         "invalid payload length"},
        {"zero keywords length",
         [this] {
             ContainerRecipe recipe;
             recipe.keywords_length = 0;
             return Write(MakeContainer(recipe));
         },
         "invalid payload length"},
        {"one byte appended",
         [this] {
             Bytes bytes = MakeContainer({});
             bytes.push_back(0);
             return Write(bytes);
         },
         "config file size mismatch"},
        {"open provider", fail_at(Step::OpenProvider), "BCryptOpenAlgorithmProvider failed"},
        {"set CBC", fail_at(Step::SetCbcChaining), "BCryptSetProperty CBC failed"},
        {"generate key", fail_at(Step::GenerateKey), "BCryptGenerateSymmetricKey failed"},
        {"size query", fail_at(Step::DecryptSizeQuery), "BCryptDecrypt size query failed"},
        {"decrypt tokens", fail_at(Step::Decrypt), "BCryptDecrypt failed"},
        {"decrypt keywords", fail_at(Step::Decrypt, 2), "BCryptDecrypt failed"},
        {"keywords provider", fail_at(Step::OpenProvider, 2), "BCryptOpenAlgorithmProvider failed"},
        // 25 bytes pad to 32, as 20 would.
        {"length disagrees within the padded size",
         [this] {
             ContainerRecipe recipe;
             recipe.tokens = "abcdefghijklmnopqrstuvwxy";
             recipe.tokens_length = 20;
             return Write(MakeContainer(recipe));
         },
         "decrypted payload length mismatch"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake::ResetPlatform();
        const std::string path = row.arrange();
        if (path.empty()) {
            continue;  // not available on this platform
        }
        std::string reason = "earlier";
        EXPECT_FALSE(Load(path, &reason));
        std::string expected = row.reason;
        if (expected.back() == '$') {
            expected.replace(expected.size() - 1, 1, path);
        }
        EXPECT_EQ(reason, expected);
        ExpectPayloadUntouched();
        ExpectHandlesReleased();
        // Without a reason string the same check fails silently.
        fake::ResetPlatform();
        row.arrange();
        EXPECT_FALSE(Load(path, nullptr));
        ExpectPayloadUntouched();
    }
}

TEST_F(ConfigContainerTest, NullPayloadIsRefusedBeforeTheFileIsOpened) {
    std::string reason;
    EXPECT_FALSE(LoadEncryptedConfig((dir_ / "absent.bin").string(), nullptr, &reason));
    EXPECT_EQ(reason, "output payload is null");
}

TEST_F(ConfigContainerTest, ShortReadIsAReadFailure) {
    // Attribute files report a size of one page and hold less.
    const std::string path = "/sys/devices/system/cpu/online";
    if (!std::ifstream(path).good()) {
        GTEST_SKIP() << "no sysfs attribute to read short";
    }
    std::vector<std::uint8_t> bytes;
    std::string reason;
    EXPECT_FALSE(ReadWholeFile(path, bytes, &reason));
    EXPECT_EQ(reason, "failed to read file: " + path);
}

TEST_F(ConfigContainerTest, SizeLimitLetsExactly64MiBThrough) {
    const std::string path = Write({});
    std::filesystem::resize_file(path, kMaxConfigFileSize);
    std::string reason;
    EXPECT_FALSE(Load(path, &reason));
    EXPECT_EQ(reason, "invalid config magic");
}

TEST_F(ConfigContainerTest, ADirectoryIsRefusedWithoutReadingIt) {
    std::string reason;
    EXPECT_FALSE(Load(dir_.string(), &reason));
    EXPECT_NE(reason.find(dir_.string()), std::string::npos) << reason;
    ExpectPayloadUntouched();
}

TEST_F(ConfigContainerTest, LoadsTextsAroundTheBlockBoundaries) {
    for (const std::size_t tokens_size : {1u, 15u, 16u, 17u}) {
        for (const std::size_t keywords_size : {1u, 16u, 33u}) {
            SCOPED_TRACE(testing::Message() << tokens_size << " + " << keywords_size);
            fake::ResetPlatform();
            ContainerRecipe recipe;
            recipe.tokens = std::string(tokens_size, 't');
            recipe.keywords = std::string(keywords_size, 'k');
            const Bytes bytes = MakeContainer(recipe);
            ASSERT_EQ(bytes.size(), 32 + PaddedLength(tokens_size) + PaddedLength(keywords_size));
            std::string reason = "untouched";
            ASSERT_TRUE(Load(Write(bytes), &reason));
            EXPECT_EQ(reason, "untouched");
            EXPECT_EQ(payload_.tokens, ToBytes(recipe.tokens));
            EXPECT_EQ(payload_.keywords, ToBytes(recipe.keywords));
            ExpectHandlesReleased();
        }
    }
}

TEST_F(ConfigContainerTest, EachPartGoesThroughTheWholeStepSequence) {
    ASSERT_TRUE(Load(Write(MakeContainer({})), nullptr));
    const std::vector<std::string> part = {
        "OpenProvider", "SetCbcChaining", "GenerateKey",   "DecryptSizeQuery",
        "Decrypt",      "DestroyKey",     "CloseProvider",
    };
    std::vector<std::string> both = part;
    both.insert(both.end(), part.begin(), part.end());
    EXPECT_EQ(fake::AesCbc().calls, both);
    EXPECT_EQ(fake::AesCbc().key_size, 32);
}

TEST_F(ConfigContainerTest, ATokensFailureNeverStartsTheKeywordsPart) {
    fake::AesCbc().fail_step = Step::Decrypt;
    EXPECT_FALSE(Load(Write(MakeContainer({})), nullptr));
    const auto& calls = fake::AesCbc().calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "OpenProvider"), 1);
    EXPECT_EQ(calls.back(), "CloseProvider");
}

TEST_F(ConfigContainerTest, KeywordsContinuingTheTokensChainLoadWithTheFirstBlockWrong) {
    ContainerRecipe recipe;
    recipe.keywords = "\xE2\x96\x81HE Y \xE2\x96\x81JA R VI S @HEY_JARVIS\n";
    recipe.chain_keywords = true;
    ASSERT_TRUE(Load(Write(MakeContainer(recipe)), nullptr));
    const Bytes expected = ToBytes(recipe.keywords);
    ASSERT_EQ(payload_.keywords.size(), expected.size());
    EXPECT_NE(Bytes(payload_.keywords.begin(), payload_.keywords.begin() + 16),
              Bytes(expected.begin(), expected.begin() + 16));
    EXPECT_EQ(Bytes(payload_.keywords.begin() + 16, payload_.keywords.end()),
              Bytes(expected.begin() + 16, expected.end()));
    EXPECT_EQ(payload_.tokens, ToBytes(recipe.tokens));
}

TEST_F(ConfigContainerTest, AnotherKeyFailsOnPaddingOrLength) {
    ContainerRecipe recipe;
    recipe.other_key = true;
    std::string reason;
    EXPECT_FALSE(Load(Write(MakeContainer(recipe)), &reason));
    EXPECT_TRUE(reason == "BCryptDecrypt failed" || reason == "decrypted payload length mismatch")
        << reason;
    ExpectPayloadUntouched();
}

TEST_F(ConfigContainerTest, DecryptLeavesTheCallersIvAlone) {
    std::uint8_t key[kConfigKeySize];
    BuildConfigKey(key);
    std::uint8_t iv[kConfigIvSize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::vector<std::uint8_t> iv_before(iv, iv + sizeof iv);
    const Bytes cipher = Encrypt(ToBytes("forty bytes of text, more than two blocks"), key, iv);
    Bytes plain = {'x'};
    ASSERT_TRUE(DecryptAesCbc(cipher.data(), cipher.size(), iv, plain, nullptr));
    EXPECT_EQ(plain, ToBytes("forty bytes of text, more than two blocks"));
    EXPECT_EQ(std::vector<std::uint8_t>(iv, iv + sizeof iv), iv_before);
}

}  // namespace
