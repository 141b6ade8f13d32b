#include <cstring>
#include <memory>

#include "engine/engine_object.h"
#include "test_support.h"

namespace {

class SpotterInitTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        model = std::make_unique<ModelFolder>();
        log.Install();
    }
    void TearDown() override {
        KelmorTest::TearDown();
        model.reset();
    }

    std::unique_ptr<ModelFolder> model;
    const std::string tokens = "<blk> 0\n\xE2\x96\x81HE 1\nY 2\n";
    const std::string keywords = "\xE2\x96\x81HE Y :2.0 #0.3 @HEY\n";
};

TEST_F(SpotterInitTest, SuccessLogsInOrderAndHandsTheEngineItsFixedSettings) {
    model->WriteContainer(tokens, keywords);
    kelmor engine(ModelFolder::kModuleDir);
    log.Clear();
    ASSERT_TRUE(engine.init());

    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "sherpa_root_path (short): " + model->root,
                               "config loaded, tokens=" + std::to_string(tokens.size()) +
                                   ", keywords=" + std::to_string(keywords.size()),
                               "kelmor init success",
                           }));
    EXPECT_EQ(log.Lines()[0].level, 0);
    EXPECT_EQ(log.Lines()[1].level, 0);
    EXPECT_EQ(log.Lines()[2].level, 1);

    const fake::EngineState& e = fake::Engine();
    EXPECT_EQ(e.calls, (std::vector<std::string>{"CreateKeywordSpotter", "CreateKeywordStream",
                                                 "CreateDisplay"}));
    EXPECT_EQ(e.display_width, 50);
    EXPECT_NE(engine.spotter, nullptr);
    EXPECT_NE(engine.stream, nullptr);
    EXPECT_NE(engine.display, nullptr);

    // The texts reach the engine byte for byte, without terminators.
    EXPECT_EQ(e.tokens, tokens);
    EXPECT_EQ(e.keywords, keywords);
    EXPECT_EQ(e.encoder, model->root + engine.encoder_file);
    EXPECT_EQ(e.decoder, model->root + engine.decoder_file);
    EXPECT_EQ(e.joiner, model->root + engine.joiner_file);
    EXPECT_EQ(engine.encoder_path, model->root + engine.encoder_file);
    EXPECT_EQ(e.provider, "cpu");

    const SherpaOnnxKeywordSpotterConfig& c = e.config;
    EXPECT_EQ(c.feat_config.sample_rate, 0);
    EXPECT_EQ(c.feat_config.feature_dim, 0);
    EXPECT_EQ(c.model_config.num_threads, 1);
    EXPECT_EQ(c.model_config.debug, 1);
    EXPECT_EQ(c.model_config.tokens, nullptr);
    EXPECT_EQ(c.model_config.model_type, nullptr);
    EXPECT_EQ(c.model_config.modeling_unit, nullptr);
    EXPECT_EQ(c.model_config.bpe_vocab, nullptr);
    EXPECT_EQ(c.model_config.paraformer.encoder, nullptr);
    EXPECT_EQ(c.model_config.zipformer2_ctc.model, nullptr);
    EXPECT_EQ(c.model_config.tokens_buf_size, static_cast<std::int32_t>(tokens.size()));
    EXPECT_EQ(c.max_active_paths, 8);
    EXPECT_EQ(c.num_trailing_blanks, 0);
    EXPECT_FLOAT_EQ(c.keywords_score, 1.5f);
    std::uint32_t threshold_bits = 0;
    std::memcpy(&threshold_bits, &c.keywords_threshold, 4);
    EXPECT_EQ(threshold_bits, 0xC0000000u);
    EXPECT_EQ(c.keywords_file, nullptr);
    EXPECT_EQ(c.keywords_buf_size, static_cast<std::int32_t>(keywords.size()));
}

TEST_F(SpotterInitTest, RejectedInputsEndBeforeAnyEngineCall) {
    struct Case {
        const char* name;
        bool write;
        std::string tokens, keywords;
        std::string error;  // with "{config}" for the container's path
    };
    const Case cases[] = {
        {"no container", false, "", "",
         "LoadEncryptedConfig failed: failed to open file: {config}"},
        {"token line the engine cannot parse", true, "a 1 2\n", "a\n",
         "tokens validation failed, abort init to avoid sherpa exit(): malformed tokens line 1: "
         "a 1 2"},
        {"keyword piece missing from the table", true, "a 1\n", "a b @AB\n",
         "keywords validation failed, abort init to avoid sherpa exit(): "},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.write) {
            model->WriteContainer(c.tokens, c.keywords);
        }
        kelmor engine(ModelFolder::kModuleDir);
        log.Clear();
        EXPECT_FALSE(engine.init()) << c.name;
        std::string error = c.error;
        const size_t at = error.find("{config}");
        if (at != std::string::npos) {
            error.replace(at, 8, model->config_path);
        }
        const auto lines = log.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().level, 3) << c.name;
        EXPECT_EQ(Message(lines.back()).rfind(error, 0), 0u)
            << c.name << ": " << Message(lines.back());
        EXPECT_TRUE(fake::Engine().calls.empty()) << c.name;
        EXPECT_TRUE(engine.encoder_path.empty()) << c.name;
    }
}

TEST_F(SpotterInitTest, RefusedConfigurationKeepsPathsButCreatesNoHandles) {
    model->WriteContainer(tokens, keywords);
    fake::Engine().refuse_spotter = true;
    kelmor engine(ModelFolder::kModuleDir);
    EXPECT_FALSE(engine.init());
    EXPECT_EQ(log.Texts().back(),
              "SherpaOnnxCreateKeywordSpotter failed, please check your config!");
    EXPECT_EQ(fake::Engine().calls, (std::vector<std::string>{"CreateKeywordSpotter"}));
    EXPECT_EQ(engine.encoder_path, model->root + engine.encoder_file);
    EXPECT_EQ(engine.spotter, nullptr);
    EXPECT_EQ(engine.stream, nullptr);
    EXPECT_EQ(engine.display, nullptr);
}

TEST_F(SpotterInitTest, EmptyRootPathLeavesBareFileNames) {
    fake::Text().fail_utf8_to_utf16 = true;  // the model directory cannot be converted
    kelmor engine(ModelFolder::kModuleDir);
    log.Clear();
    EXPECT_FALSE(engine.init());
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "sherpa_root_path (short): ",
                               "LoadEncryptedConfig failed: failed to open file: kelmor_config.bin",
                           }));
}

}  // namespace
