// A long random schedule against the listening loop, on the fake device and the fake engine:
// every kind of buffer, every device failure the loop recovers from, devices that vanish and come
// back, throwing wake callbacks, restarts and stops. After each step the loop must be back
// waiting with all four buffers queued (no hang, no lost buffer); at the end exactly the expected
// detections, callbacks and recovery lines must have happened, and nothing may be left open.
//
// KELMOR_SOAK_BUFFERS (default 100000) sets the number of buffers, KELMOR_SOAK_SEED the schedule.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/engine_object.h"
#include "fake_engine.h"
#include "fake_wave_input.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int16_t kMarker = 12345;  // a buffer starting with it holds the keyword

long EnvOr(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

class FaultSoak : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        fake::Wave().device_count = 1;
        fake::Wave().record_calls = false;
        fake::Engine().record_calls = false;
        fake::Engine().detect = [](const fake::FakeStream& s) {
            return !s.pending.empty() && s.pending.front() == kMarker / 32768.0f ? std::string("KW")
                                                                                 : std::string();
        };
        engine = std::make_unique<kelmor>("/m");
        engine->spotter = SherpaOnnxCreateKeywordSpotter(&engine->spotter_config);
        engine->stream = SherpaOnnxCreateKeywordStream(engine->spotter);
        engine->set_wake_callback([this] {
            const long n = ++wakes;
            if (throw_every != 0 && n % throw_every == 0) {
                throw std::runtime_error("soak");
            }
        });
        log.Install();
    }

    void TearDown() override {
        engine.reset();
        KelmorTest::TearDown();
    }

    // Starts listening and waits until the loop waits with all buffers queued.
    void Start() {
        engine->open_listen_voice();
        ASSERT_TRUE(engine->worker.joinable());
        ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
    }

    long Count(const std::string& message) const {
        const auto texts = log.Texts();
        return std::count(texts.begin(), texts.end(), message);
    }

    // Waits until the loop has recovered from `faults` device faults in all. Until then a
    // buffer handed over could be taken back by the recovery's reset.
    bool WaitRecovered(long faults) const {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Count("Device invalid detected in mainLoop, attempting reopen...") < faults ||
               RecoveredCount() < faults) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    long RecoveredCount() const {
        return Count("Audio device reopened successfully (retry=0)") +
               Count("Audio device reopened successfully (retry=1)") +
               Count("Audio device reopened successfully (retry=2)");
    }

    std::unique_ptr<kelmor> engine;
    std::atomic<long> wakes{0};
    long throw_every = 7;
};

TEST_F(FaultSoak, RandomScheduleOfBuffersFailuresAndRestarts) {
    const long buffers = EnvOr("KELMOR_SOAK_BUFFERS", 100000);
    const unsigned seed = static_cast<unsigned>(EnvOr("KELMOR_SOAK_SEED", 20261210));
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    const std::string quiet = fake::Pcm(0);
    const std::string loud = fake::Pcm(3000);
    std::vector<std::int16_t> marked(1600, 3000);
    marked[0] = kMarker;
    const std::string keyword = fake::Pcm(marked);

    long keywords = 0, device_faults = 0, absent_retries = 0, restarts = 0, stops = 0;
    std::chrono::nanoseconds slowest_stop{0};
    Start();
    for (long step = 0; step < buffers; ++step) {
        const unsigned roll = random() % 1000;
        if (roll < 8) {  // a device step fails: the loop reopens and goes on
            ++device_faults;
            const std::uint32_t code = 1 + random() % 1000;
            switch (random() % 3) {
                case 0:
                    fake::WithWave([code](fake::WaveState& s) {
                        s.wait_result = fake::kWaitFailed;
                        s.wait_error = code;
                    });
                    fake::Signal();
                    break;
                case 1:
                    fake::WithWave([code](fake::WaveState& s) {
                        s.requeue = {s.adds_since_open - kelmor::kCaptureBufferCount, code};
                    });
                    ASSERT_TRUE(fake::Deliver(quiet));
                    break;
                default: {
                    // Rarely absent for an attempt or two: each costs the loop a 500 ms pause.
                    const int absent = random() % 50 == 0 ? 1 + static_cast<int>(random() % 2) : 0;
                    absent_retries += absent;
                    fake::Unplug(code, absent);
                    break;
                }
            }
            ASSERT_TRUE(WaitRecovered(device_faults)) << "no recovery at step " << step;
        } else if (roll < 11) {  // restart while listening
            ++restarts;
            Start();
        } else if (roll < 13) {  // stop, then start again
            ++stops;
            const auto before = Clock::now();
            engine->close_listen_voice();
            slowest_stop = std::max(slowest_stop, Clock::now() - before);
            ASSERT_FALSE(engine->worker.joinable());
            ASSERT_EQ(engine->wave_in, nullptr);
            Start();
        } else {
            const unsigned kind = random() % 100;
            std::string bytes;
            if (kind < 10) {
                bytes = keyword;
                ++keywords;
            } else if (kind < 15) {
                bytes = "";  // a buffer handed back empty
            } else if (kind < 20) {
                bytes = loud.substr(0, 2 * (1 + random() % 1599));  // a short buffer
            } else {
                bytes = kind < 60 ? quiet : loud;
            }
            ASSERT_TRUE(fake::Deliver(bytes)) << "step " << step;
        }
        ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount, std::chrono::seconds(10)))
            << "the loop did not come back at step " << step;
    }
    const auto before = Clock::now();
    engine->close_listen_voice();
    slowest_stop = std::max(slowest_stop, Clock::now() - before);

    // Every keyword buffer was detected and dispatched once; every seventh callback threw.
    EXPECT_EQ(Count("Keyword detected: KW"), keywords);
    EXPECT_EQ(wakes.load(), keywords);
    EXPECT_EQ(Count("kelmor callback exception: soak"), keywords / throw_every);
    // Each device fault led to one recovery, the absent device to its retries.
    EXPECT_EQ(Count("Device invalid detected in mainLoop, attempting reopen..."), device_faults);
    EXPECT_EQ(RecoveredCount(), device_faults);
    EXPECT_EQ(Count("No audio input device available"), absent_retries);
    EXPECT_EQ(Count("Device reopen failed, will retry in 2 seconds..."), 0);
    EXPECT_EQ(Count("mainLoop thread started"), 1 + restarts + stops);
    EXPECT_EQ(Count("mainLoop thread stopped"), 1 + restarts + stops);
    EXPECT_EQ(Count("Failed to read from microphone"), 0);
    // A stop never waited for more than one wait of the loop (plus scheduling).
    EXPECT_LT(slowest_stop, std::chrono::milliseconds(500));

    // Nothing is left open: no device, no event, one stream, no results or waves.
    fake::WithWave([](fake::WaveState& s) {
        EXPECT_EQ(s.open_devices, 0);
        EXPECT_EQ(s.open_events, 0);
    });
    EXPECT_EQ(fake::Engine().streams, 1);
    EXPECT_EQ(fake::Engine().results, 0);
    EXPECT_EQ(fake::Engine().waves, 0);
    std::printf(
        "soak: %ld buffers, %ld keywords, %ld device faults (%ld absent retries), "
        "%ld restarts, %ld stops, slowest stop %.1f ms, seed %u\n",
        buffers, keywords, device_faults, absent_retries, restarts, stops,
        std::chrono::duration<double, std::milli>(slowest_stop).count(), seed);
}

}  // namespace
