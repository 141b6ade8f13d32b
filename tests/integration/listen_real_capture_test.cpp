// Synthesized speech through real ALSA capture (the `file` plugin behind a private .asoundrc),
// the Linux wave input, the listening loop and the real keyword engine with the shared model.
// The spotter is made here from the model's own files; the library's initialisation and its
// exports are exercised by the kelmor-listen test.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio_env.h"
#include "engine/engine_object.h"
#include "log/logger.h"

namespace {

using namespace std::chrono_literals;

const std::string kModelDir = KELMOR_MODEL_DIR;

std::mutex g_lines_mutex;
std::vector<std::string> g_lines;
void Collect(std::int32_t, const char* line, void*) {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    g_lines.push_back(line);
}

std::string AllLines() {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    std::string text;
    for (const std::string& line : g_lines) {
        text += line + "\n";
    }
    return text;
}

std::vector<std::string> Detections() {
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    std::vector<std::string> keywords;
    const std::string prefix = "[kelmor.dll] Keyword detected: ";
    for (const std::string& line : g_lines) {
        if (line.rfind(prefix, 0) == 0) {
            keywords.push_back(line.substr(prefix.size()));
        }
    }
    return keywords;
}

class RealCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model_ = kModelDir;
        encoder_ = model_ + "/encoder-epoch-12-avg-2-chunk-16-left-64.int8.patched.onnx";
        decoder_ = model_ + "/decoder-epoch-12-avg-2-chunk-16-left-64.onnx";
        joiner_ = model_ + "/joiner-epoch-12-avg-2-chunk-16-left-64.int8.onnx";
        tokens_ = model_ + "/tokens.txt";
        keywords_ = model_ + "/keywords.txt";
        if (!std::ifstream(encoder_).good()) {
            GTEST_SKIP() << "no keyword model at " << model_ << " (set KELMOR_MODEL_DIR)";
        }
        for (const char* tool : {"espeak-ng", "sox"}) {
            if (!audio_env::Installed(tool)) {
                GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs it)";
            }
        }
        {
            std::lock_guard<std::mutex> lock(g_lines_mutex);
            g_lines.clear();
        }
        Logger::instance().set_callback(Collect, nullptr);
        engine_ = std::make_unique<kelmor>(model_);
        SherpaOnnxKeywordSpotterConfig config{};
        config.model_config.transducer = {encoder_.c_str(), decoder_.c_str(), joiner_.c_str()};
        config.model_config.tokens = tokens_.c_str();
        config.model_config.num_threads = 1;
        config.model_config.provider = "cpu";
        config.max_active_paths = 8;
        config.keywords_score = 1.5f;
        config.keywords_file = keywords_.c_str();
        engine_->spotter = SherpaOnnxCreateKeywordSpotter(&config);
        ASSERT_NE(engine_->spotter, nullptr);
        engine_->stream = SherpaOnnxCreateKeywordStream(engine_->spotter);
        engine_->set_wake_callback([this] { ++wakes_; });
    }

    void TearDown() override {
        engine_.reset();
        Logger::instance().set_callback(nullptr, nullptr);
    }

    std::string Speak(const std::string& text) {
        std::string error;
        std::string pcm = audio_env::Speak(text, "en-us", home_.path(), error);
        EXPECT_FALSE(pcm.empty()) << error;
        return pcm;
    }

    // Listens to `audio` (then silence) until `expected` wakes came, then long enough for the
    // rest of it: the file plugin is not paced, so the loop takes the audio as fast as the
    // engine decodes it (a few ms per 100 ms).
    int ListenTo(const std::string& audio, int expected) {
        const std::string file = home_.path() + "/capture.raw";
        audio_env::WriteFile(file, audio + audio_env::Silence(2));
        audio_env::UseAlsaConfig(home_.path(), audio_env::FileCaptureConfig(file));
        snd_config_update_free_global();

        engine_->open_listen_voice();
        EXPECT_TRUE(engine_->worker.joinable());
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (wakes_ < expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        const double seconds = static_cast<double>(audio.size()) / 32000;
        std::this_thread::sleep_for(1s +
                                    std::chrono::milliseconds(static_cast<int>(seconds * 100)));
        engine_->close_listen_voice();
        return wakes_;
    }

    audio_env::TempDir home_;
    std::unique_ptr<kelmor> engine_;
    std::atomic<int> wakes_{0};

  private:
    std::string model_, encoder_, decoder_, joiner_, tokens_, keywords_;
};

TEST_F(RealCaptureTest, EachSpokenKeywordWakesOnce) {
    const std::string gap = audio_env::Silence(1.5);
    const std::string audio = audio_env::Silence(1) + Speak("hey computer") + gap +
                              Speak("hey jarvis") + gap + Speak("hey computer") + gap;
    EXPECT_EQ(ListenTo(audio, 3), 3) << AllLines();
    EXPECT_EQ(Detections(),
              (std::vector<std::string>{"HEY_COMPUTER", "HEY_JARVIS", "HEY_COMPUTER"}));
}

TEST_F(RealCaptureTest, OtherSpeechSilenceAndNoiseWakeNothing) {
    const std::string gap = audio_env::Silence(1.5);
    const std::string noise = audio_env::PinkNoise(3, home_.path());
    ASSERT_FALSE(noise.empty());
    const std::string audio = audio_env::Silence(3) + Speak("the weather is nice today") + gap +
                              noise + gap + Speak("please open the window") + gap +
                              Speak("computers are useful") + gap;
    EXPECT_EQ(ListenTo(audio, 0), 0) << AllLines();
    EXPECT_TRUE(Detections().empty());
}

}  // namespace
