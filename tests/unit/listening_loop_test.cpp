#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/listening_loop.h"
#include "engine/engine_object.h"
#include "listening_fixture.h"
#include "measure.h"

namespace {

using measure::Le16;
using measure::Le32;

TEST(BuildWavImage, HeaderThenTheBytesUnchanged) {
    const std::string pcm = fake::Pcm({1, -2, 300});
    std::uint32_t size = 0;
    char* image = build_wav_image(pcm.data(), 6, 1, 16000, 16, &size);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(size, 50u);
    EXPECT_EQ(std::string(image, 4), "RIFF");
    EXPECT_EQ(Le32(image + 4), 42u);
    EXPECT_EQ(std::string(image + 8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(image + 16), 16u);
    EXPECT_EQ(Le16(image + 20), 1);
    EXPECT_EQ(Le16(image + 22), 1);
    EXPECT_EQ(Le32(image + 24), 16000u);
    EXPECT_EQ(Le32(image + 28), 32000u);
    EXPECT_EQ(Le16(image + 32), 2);
    EXPECT_EQ(Le16(image + 34), 16);
    EXPECT_EQ(std::string(image + 36, 4), "data");
    EXPECT_EQ(Le32(image + 40), 6u);
    EXPECT_EQ(std::string(image + 44, 6), pcm);
    std::free(image);

    // Other formats: the derived rates use integer division by 8.
    image = build_wav_image(pcm.data(), 0, 2, 8000, 12, &size);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(size, 44u);
    EXPECT_EQ(Le32(image + 28), 24000u);
    EXPECT_EQ(Le16(image + 32), 3);
    std::free(image);
}

TEST(IsQuietChunk, QuietOnlyStrictlyBelowTheThreshold) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        std::vector<float> samples;
        float threshold;
        bool quiet;
    } cases[] = {
        {{0.0f}, 0.01f, true},
        {{0.01f}, 0.01f, false},  // equal is loud
        {{0.0099f, -0.0099f}, 0.01f, true},
        {{0.0f, 0.0f, 0.0f, 0.03f}, 0.01f, false},  // rms 0.015
        {{nan, 0.0f}, 0.01f, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_quiet_chunk(c.samples.data(), static_cast<std::int32_t>(c.samples.size()),
                                 c.threshold),
                  c.quiet)
            << c.samples[0] << " x" << c.samples.size();
    }
}

TEST_F(ListeningTest, BufferCycle) {
    Listen();
    fake::Engine().calls.clear();

    // A signal with nothing handed back is an empty scan; a buffer of zero bytes is re-queued
    // without any engine call and without touching the counters.
    fake::Signal();
    engine->quiet_samples = 0;
    Feed(fake::Pcm(0, 0));
    EXPECT_TRUE(fake::Engine().calls.empty());
    EXPECT_EQ(engine->quiet_samples, 0);

    // Any byte count is one chunk of its samples; each buffer goes back to the device.
    Feed(kQuiet.substr(0, 1000));
    Feed(kLoud);
    EXPECT_EQ(fetches, (std::vector<Fetch>{{500, false}, {1600, false}}));
    EXPECT_EQ(EngineCalls("ReadWaveFromBinaryData"), 2);
    EXPECT_EQ(fake::Engine().waves, 0);
    EXPECT_EQ(fake::Engine().results, 0);
    const Lines calls = fake::WaveCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Add"), 4 + 3);
    EXPECT_EQ(wakes, 0);
}

TEST_F(ListeningTest, BuffersFoundDoneTogetherAreTakenInTheOrderTheyWereFilled) {
    std::vector<int> order;  // the first sample of each chunk fed, 16-bit
    detect = [&order](const fake::FakeStream& s) {
        if (!s.input_finished) {
            order.push_back(static_cast<int>(s.pending[0] * 32768.0f));
        }
        return std::string();
    };
    Listen();
    Feed(fake::Pcm(100));  // index 0
    Feed(fake::Pcm(200));  // index 1: the oldest queued buffer is now index 2
    ASSERT_TRUE(fake::DeliverTogether({fake::Pcm(300), fake::Pcm(400), fake::Pcm(500)}));
    ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
    Feed(fake::Pcm(600));
    EXPECT_EQ(order, (std::vector<int>{100, 200, 300, 400, 500, 600}));
}

TEST_F(ListeningTest, OneSecondOfQuietFlushesAndRenewsTheStream) {
    Listen();
    Feed(kQuiet, 9);
    EXPECT_EQ(engine->quiet_samples, 9 * 1600);
    EXPECT_EQ(fake::Engine().streams_created, 1);

    Feed(kQuiet);
    EXPECT_EQ(fake::Engine().streams_created, 2);
    EXPECT_EQ(fake::Engine().streams, 1);
    EXPECT_EQ(engine->quiet_samples, 0);
    ASSERT_EQ(fetches.size(), 11u);
    EXPECT_EQ(fetches.back(), (Fetch{4800, true}));  // the zeros of the flush, input finished
    EXPECT_EQ(wakes, 0);
}

TEST_F(ListeningTest, OneLoudBufferRestartsTheQuietCount) {
    Listen();
    Feed(kQuiet, 9);
    Feed(kLoud);
    EXPECT_EQ(engine->quiet_samples, 0);
    Feed(kQuiet, 9);
    EXPECT_EQ(engine->quiet_samples, 9 * 1600);
    EXPECT_EQ(fake::Engine().streams_created, 1);
}

TEST_F(ListeningTest, ChunkAtExactlyTheThresholdIsLoud) {
    // 328/32768 squared and summed 1600 times is exact in single precision, so the chunk's RMS
    // is exactly 41/4096.
    engine->energy_threshold = 41.0f / 4096.0f;
    Listen();
    const struct {
        std::int16_t value;
        std::int32_t quiet_after;
    } cases[] = {{328, 0}, {327, 3200}, {-328, 0}, {329, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Feed(kQuiet);
        ASSERT_EQ(engine->quiet_samples, 1600);
        Feed(fake::Pcm(c.value));
        EXPECT_EQ(engine->quiet_samples, c.quiet_after);
        engine->quiet_samples = 0;  // the worker is waiting; Feed syncs with it
    }
}

TEST_F(ListeningTest, OneCallbackPerDetectionEvenWhenTheFlushReportsItAgain) {
    detect = [](const fake::FakeStream& s) {
        const bool loud =
            std::any_of(s.pending.begin(), s.pending.end(), [](float x) { return x != 0.0f; });
        return loud || s.input_finished ? "HEY" : "";
    };
    Listen();
    Feed(kLoud);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(Count("Keyword detected: HEY"), 2);  // the chunk and the flush
    EXPECT_EQ(fake::Engine().streams_created, 2);
    EXPECT_FALSE(engine->keyword_latched);
    EXPECT_EQ(log.Lines().front().level, 1);

    Feed(kLoud);
    EXPECT_EQ(wakes, 2);
    EXPECT_EQ(Count("Keyword detected: HEY"), 4);
}

TEST_F(ListeningTest, KeywordFoundOnlyByTheQuietFlushIsDispatchedOnce) {
    detect = [](const fake::FakeStream& s) { return s.input_finished ? "HEY" : ""; };
    Listen();
    Feed(kQuiet, 10);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(Count("Keyword detected: HEY"), 1);
}

TEST_F(ListeningTest, NullStreamAfterFlushIsReportedOnceAndLaterBuffersGoBackUnread) {
    detect = [](const fake::FakeStream& s) { return s.input_finished ? "" : "HEY"; };
    Listen();
    fake::Engine().null_streams = true;
    Feed(kLoud);
    EXPECT_EQ(engine->stream, nullptr);
    Feed(kLoud, 3);
    EXPECT_EQ(Count("SherpaOnnxCreateKeywordStream failed after flush, detection stopped"), 1);
    EXPECT_EQ(log.Lines().back().level, 3);
    EXPECT_EQ(EngineCalls("ReadWaveFromBinaryData"), 1);
    EXPECT_EQ(wakes, 1);
}

TEST_F(ListeningTest, BufferTheEngineCannotReadIsRequeuedUnprocessed) {
    Listen();
    Feed(kQuiet);
    fake::Engine().read_wave_null = true;
    Feed(kLoud);
    EXPECT_EQ(log.Texts(), (Lines{"Failed to read from microphone"}));
    EXPECT_EQ(engine->quiet_samples, 1600);
    EXPECT_EQ(EngineCalls("OnlineStreamAcceptWaveform"), 1);
}

TEST_F(ListeningTest, NoMemoryForTheImageSkipsBuffersWithOneLinePerRun) {
    static std::atomic<bool> fail{false};
    wav_image_alloc = [](std::size_t size) { return fail ? nullptr : std::malloc(size); };
    Listen();
    fail = true;
    Feed(kLoud, 3);
    EXPECT_EQ(log.Texts(), (Lines{"build_wav_image failed: out of memory, audio buffer skipped"}));
    EXPECT_EQ(EngineCalls("ReadWaveFromBinaryData"), 0);

    fail = false;
    Feed(kQuiet);
    EXPECT_EQ(engine->quiet_samples, 1600);
    fail = true;
    Feed(kLoud);
    EXPECT_EQ(Count("build_wav_image failed: out of memory, audio buffer skipped"), 2);
}

TEST_F(ListeningTest, EachDeviceFailureLeadsToAReopenAndListeningGoesOn) {
    struct Case {
        const char* name;
        std::function<void()> fail;
        Lines first;  // the failure's own lines
        int retry;
    };
    const Case cases[] = {
        {"wait",
         [] {
             fake::WithWave([](fake::WaveState& s) {
                 s.wait_result = fake::kWaitFailed;
                 s.wait_error = 6;
             });
         },
         {"WaitForSingleObject failed, ret=4294967295, error=6"},
         0},
        {"re-queue",
         [] {
             fake::WithWave([](fake::WaveState& s) { s.requeue = {0, 5}; });
             fake::Deliver(kQuiet);
         },
         {"waveInAddBuffer failed in mainLoop, index=0, error=5"},
         0},
        {"unplugged, back on the third attempt",
         [] { fake::Unplug(1167, 2); },
         {"WaitForSingleObject failed, ret=4294967295, error=1167"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listen();
        c.fail();
        const std::string success =
            "Audio device reopened successfully (retry=" + std::to_string(c.retry) + ")";
        ASSERT_TRUE(log.WaitFor(success));
        Lines expected = c.first;
        expected.push_back("Device invalid detected in mainLoop, attempting reopen...");
        expected.push_back("Attempting to reopen audio device...");
        expected.push_back("waveIn device closed");
        for (int i = 1; i <= c.retry; ++i) {
            expected.push_back("No audio input device available");
            expected.push_back("Reopen failed, retry " + std::to_string(i) +
                               "/3, waiting 500ms...");
        }
        expected.push_back("waveIn device opened successfully, devCount: 1");
        expected.push_back(success);
        EXPECT_EQ(log.Texts(), expected);
        EXPECT_EQ(log.Lines().front().level, 3);

        // Listening goes on with the new device.
        ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
        engine->quiet_samples = 0;
        Feed(kQuiet);
        EXPECT_EQ(engine->quiet_samples, 1600);
        engine->close_listen_voice();
        fake::WithWave([](fake::WaveState& s) { s.requeue = {}; });
    }
}

TEST_F(ListeningTest, ReopenFailingForGoodBacksOffAndAStopEndsTheBackOffAtOnce) {
    Listen();
    fake::Unplug(1167, 1000);
    ASSERT_TRUE(log.WaitFor("Device reopen failed, will retry in 2 seconds..."));
    const Lines texts = log.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "No audio input device available"), 3);
    EXPECT_EQ(Count("Failed to reopen audio device after 3 retries"), 1);
    EXPECT_EQ(log.Lines().back().level, 3);

    const auto start = std::chrono::steady_clock::now();
    engine->stop_worker();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(log.Texts().back(), "mainLoop thread stopped");
    EXPECT_EQ(Count("Attempting to reopen audio device..."), 1);
}

TEST_F(ListeningTest, AfterAFailedReopenTheBackOffEndsInANewReopen) {
    Listen();
    fake::Unplug(1167, 4);  // three attempts of the first reopen, one of the second
    ASSERT_TRUE(log.WaitFor("Device reopen failed, will retry in 2 seconds..."));
    const auto backoff = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        log.WaitFor("Audio device reopened successfully (retry=1)", std::chrono::seconds(10)));
    EXPECT_GE(std::chrono::steady_clock::now() - backoff, std::chrono::seconds(2));
    EXPECT_EQ(Count("Device invalid detected in mainLoop, attempting reopen..."), 2);
    ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
    Feed(kQuiet);
}

TEST_F(ListeningTest, ExceptionInsideAPassEndsTheLoop) {
    struct Case {
        const char* name;
        std::function<void()> thrower;
        std::string line;
    } cases[] = {
        {"standard", [] { throw std::runtime_error("decoder broke"); },
         "mainLoop exception: decoder broke"},
        {"other", [] { throw 7; }, "mainLoop unknown exception"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Engine().on_decode = nullptr;
        Listen();
        fake::Engine().on_decode = c.thrower;  // the worker waits; Deliver hands it over
        ASSERT_TRUE(fake::Deliver(kLoud));
        ASSERT_TRUE(log.WaitFor("mainLoop thread stopped"));
        EXPECT_EQ(log.Texts(), (Lines{c.line, "mainLoop thread stopped"}));
        EXPECT_EQ(log.Lines().front().level, 3);
        EXPECT_TRUE(engine->running);
        // What the pass had made is released.
        EXPECT_EQ(fake::Engine().waves, 0);
        EXPECT_EQ(fake::Engine().results, 0);

        const auto start = std::chrono::steady_clock::now();
        engine->close_listen_voice();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(engine->wave_in, nullptr);
    }
}

}  // namespace
