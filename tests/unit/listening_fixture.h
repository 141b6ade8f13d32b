// Fixture for tests of the listening loop and listening control: an engine object with a fake
// spotter and stream, a counting wake callback, the fake device with one input device.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/listening_loop.h"
#include "engine/engine_object.h"
#include "test_support.h"

using Lines = std::vector<std::string>;

inline const std::string kQuiet = fake::Pcm(0);
inline const std::string kLoud = fake::Pcm(3000);

// The loop on its worker thread, against the fake device and the fake engine. Each buffer is
// handed over with Feed, which returns once the loop has processed and re-queued it; engine
// state read after that is settled.
class ListeningTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        fake::Wave().device_count = 1;
        engine = std::make_unique<kelmor>("/m");
        engine->spotter = SherpaOnnxCreateKeywordSpotter(&engine->spotter_config);
        engine->stream = SherpaOnnxCreateKeywordStream(engine->spotter);
        engine->set_wake_callback([this] { ++wakes; });
        fake::Engine().detect = [this](const fake::FakeStream& s) {
            fetches.push_back({s.pending.size(), s.input_finished});
            return detect ? detect(s) : std::string();
        };
        log.Install();
    }

    void TearDown() override {
        engine->close_listen_voice();
        engine.reset();
        wav_image_alloc = std::malloc;
        KelmorTest::TearDown();
    }

    // Starts listening and forgets the lines logged so far.
    void Listen() {
        log.Clear();
        engine->open_listen_voice();
        ASSERT_TRUE(engine->worker.joinable());
        ASSERT_TRUE(log.WaitFor("mainLoop thread started"));
        log.Clear();
    }

    void Feed(const std::string& bytes, int times = 1) {
        for (int i = 0; i < times; ++i) {
            ASSERT_TRUE(fake::Deliver(bytes));
            ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
        }
    }

    long Count(const std::string& message) const {
        const Lines texts = log.Texts();
        return std::count(texts.begin(), texts.end(), message);
    }

    static long EngineCalls(const std::string& name) {
        const auto& calls = fake::Engine().calls;
        return std::count(calls.begin(), calls.end(), name);
    }

    struct Fetch {
        size_t pending;
        bool finished;
        bool operator==(const Fetch& o) const {
            return pending == o.pending && finished == o.finished;
        }
    };

    std::unique_ptr<kelmor> engine;
    std::atomic<int> wakes{0};
    std::function<std::string(const fake::FakeStream&)> detect;  // set before Listen
    std::vector<Fetch> fetches;                                  // one per result fetched
};
