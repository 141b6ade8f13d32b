#include <algorithm>

#include "engine/engine_object.h"
#include "test_support.h"

namespace {

class EngineObjectTest : public KelmorTest {};

TEST_F(EngineObjectTest, ConstructionSetsEveryDefault) {
    log.Install();
    kelmor engine("/models/here");
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"kelmor constructor, modelPath: /models/here"}));
    EXPECT_EQ(log.Lines()[0].level, 0);
    EXPECT_FALSE(engine.wake_callback);
    EXPECT_EQ(engine.model_path, "/models/here");
    EXPECT_TRUE(engine.encoder_path.empty() && engine.decoder_path.empty() &&
                engine.joiner_path.empty());
    EXPECT_EQ(engine.wave_in, nullptr);
    EXPECT_EQ(engine.capture_event, nullptr);
    EXPECT_FALSE(engine.worker.joinable());
    EXPECT_EQ(engine.quiet_samples, 0);
    EXPECT_FALSE(engine.running);
    EXPECT_FALSE(engine.keyword_latched);
    EXPECT_FALSE(engine.device_invalid);
    EXPECT_EQ(engine.spotter, nullptr);
    EXPECT_EQ(engine.stream, nullptr);
    EXPECT_EQ(engine.display, nullptr);
    EXPECT_FLOAT_EQ(engine.energy_threshold, 0.01f);
    EXPECT_EQ(engine.sample_rate, 16000);
    EXPECT_EQ(engine.encoder_file, "encoder-epoch-13-avg-2-chunk-8-left-64.int8.onnx");
    EXPECT_EQ(engine.decoder_file, "decoder-epoch-13-avg-2-chunk-8-left-64.onnx");
    EXPECT_EQ(engine.joiner_file, "joiner-epoch-13-avg-2-chunk-8-left-64.int8.onnx");
    EXPECT_STREQ(engine.provider, "cpu");
    EXPECT_EQ(engine.config_file, "kelmor_config.bin");
    for (const auto& header : engine.headers) {
        EXPECT_EQ(header.lpData, nullptr);
        EXPECT_EQ(header.dwFlags, 0u);
    }
}

TEST_F(EngineObjectTest, TeardownDestroysDisplayThenStreamThenSpotter) {
    {
        kelmor engine("/m");
        engine.spotter = SherpaOnnxCreateKeywordSpotter(&engine.spotter_config);
        engine.stream = SherpaOnnxCreateKeywordStream(engine.spotter);
        engine.display = SherpaOnnxCreateDisplay(50);
        fake::Engine().calls.clear();
        log.Install();
    }
    EXPECT_EQ(fake::Engine().calls,
              (std::vector<std::string>{"DestroyDisplay", "DestroyOnlineStream",
                                        "DestroyKeywordSpotter"}));
    EXPECT_EQ(fake::Engine().spotters + fake::Engine().streams + fake::Engine().displays, 0);
    // A device that was never opened is not touched and logs nothing.
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"kelmor destructor", "kelmor resources released"}));
    EXPECT_TRUE(fake::Wave().calls.empty());
}

TEST_F(EngineObjectTest, TeardownWithoutHandlesDestroysNothing) {
    { kelmor engine("/m"); }
    EXPECT_TRUE(fake::Engine().calls.empty());
}

TEST_F(EngineObjectTest, TeardownWhileListeningStopsTheWorkerBeforeClosingTheDevice) {
    fake::Wave().device_count = 1;
    log.Install();
    {
        kelmor engine("/m");
        engine.spotter = SherpaOnnxCreateKeywordSpotter(&engine.spotter_config);
        engine.open_listen_voice();
        ASSERT_TRUE(engine.worker.joinable());
        ASSERT_TRUE(log.WaitFor("mainLoop thread started"));
    }
    const auto texts = log.Texts();
    const auto from = std::find(texts.begin(), texts.end(), "kelmor destructor");
    EXPECT_EQ(std::vector<std::string>(from, texts.end()), (std::vector<std::string>{
                                                               "kelmor destructor",
                                                               "mainLoop thread stopped",
                                                               "waveIn device closed",
                                                               "kelmor resources released",
                                                           }));
    EXPECT_EQ(fake::Engine().calls.back(), "DestroyKeywordSpotter");
}

}  // namespace
