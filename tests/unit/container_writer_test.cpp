#include <string>
#include <vector>

#include "config/config_container.h"
#include "fake_aes_cbc.h"
#include "pack.h"
#include "test_support.h"

namespace {

using Step = fake::AesCbcState::Step;

class ContainerWriterTest : public KelmorTest {};

const std::uint8_t kIv[kConfigIvSize] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

TEST_F(ContainerWriterTest, WhatItBuildsTheLoaderReadsBack) {
    const std::string tokens(16, 't');  // a full block: the padding adds one more
    const std::string keywords = "k";
    std::vector<std::uint8_t> container;
    ASSERT_TRUE(BuildContainer(tokens, keywords, kIv, &container, nullptr));
    EXPECT_EQ(container.size(), 32u + 32u + 16u);
    EXPECT_EQ(std::string(container.begin(), container.begin() + 4), "KMK1");
    EXPECT_EQ(std::vector<std::uint8_t>(container.begin() + 8, container.begin() + 24),
              std::vector<std::uint8_t>(kIv, kIv + sizeof kIv));

    ConfigPayload payload;
    std::string reason;
    ASSERT_TRUE(ParseEncryptedConfig(container.data(), container.size(), &payload, &reason))
        << reason;
    EXPECT_EQ(std::string(payload.tokens.begin(), payload.tokens.end()), tokens);
    EXPECT_EQ(std::string(payload.keywords.begin(), payload.keywords.end()), keywords);
    EXPECT_EQ(fake::AesCbc().providers_open, 0);
    EXPECT_EQ(fake::AesCbc().keys_live, 0);
}

TEST_F(ContainerWriterTest, EachEncryptionStepFailureIsNamedAndReleasesHandles) {
    const std::pair<Step, std::string> rows[] = {
        {Step::OpenProvider, "BCryptOpenAlgorithmProvider failed"},
        {Step::SetCbcChaining, "BCryptSetProperty CBC failed"},
        {Step::GenerateKey, "BCryptGenerateSymmetricKey failed"},
        {Step::EncryptSizeQuery, "BCryptEncrypt size query failed"},
        {Step::Encrypt, "BCryptEncrypt failed"},
    };
    for (const auto& [step, expected] : rows) {
        for (const int occurrence : {1, 2}) {
            SCOPED_TRACE(expected + (occurrence == 1 ? " (tokens)" : " (keywords)"));
            fake::ResetPlatform();
            fake::AesCbc().fail_step = step;
            fake::AesCbc().fail_occurrence = occurrence;
            std::vector<std::uint8_t> container = {1, 2, 3};
            std::string reason;
            EXPECT_FALSE(BuildContainer("a 1\n", "a\n", kIv, &container, &reason));
            EXPECT_EQ(reason, expected);
            EXPECT_EQ(container, (std::vector<std::uint8_t>{1, 2, 3}));
            EXPECT_EQ(fake::AesCbc().providers_open, 0);
            EXPECT_EQ(fake::AesCbc().keys_live, 0);
            EXPECT_EQ(fake::AesCbc().bad_handles, 0);
        }
    }
}

TEST_F(ContainerWriterTest, RefusesWhatNoLoaderWouldRead) {
    std::vector<std::uint8_t> container;
    std::string reason;
    EXPECT_FALSE(BuildContainer("", "a\n", kIv, &container, &reason));
    EXPECT_EQ(reason, "token table is empty");
    EXPECT_FALSE(BuildContainer("a 1\n", "", kIv, &container, &reason));
    EXPECT_EQ(reason, "keyword list is empty");
    // 32 + P(n) + P(1) must stay within the library's limit.
    const std::string too_big(kMaxConfigFileSize - 32 - 16, 'x');
    EXPECT_FALSE(BuildContainer(too_big, "a", kIv, &container, &reason));
    EXPECT_EQ(reason, "container would be larger than the library reads (64 MiB)");
    EXPECT_TRUE(fake::AesCbc().calls.empty());
}

}  // namespace
