#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "listening_fixture.h"

namespace {

// The worker's first line races with the line logged after it was started.
Lines WithoutWorkerStart(Lines texts) {
    const auto at = std::find(texts.begin(), texts.end(), "mainLoop thread started");
    if (at != texts.end()) {
        texts.erase(at);
    }
    return texts;
}

TEST_F(ListeningTest, StopWithoutListeningLogsEachTimeAndTouchesNoDevice) {
    engine->close_listen_voice();
    engine->close_listen_voice();
    EXPECT_EQ(log.Texts(), (Lines{"Stop listening for kelmor", "Stop listening for kelmor"}));
    EXPECT_EQ(log.Lines()[0].level, 1);
    EXPECT_TRUE(engine->device_invalid);
    EXPECT_TRUE(fake::WaveCalls().empty());
}

TEST_F(ListeningTest, StartWithoutInputDeviceStartsNoWorker) {
    fake::Wave().device_count = 0;
    engine->open_listen_voice();
    EXPECT_EQ(log.Texts(), (Lines{"No audio input device available",
                                  "open_listen_voice: failed to open waveIn device"}));
    EXPECT_EQ(log.Lines()[1].level, 3);
    EXPECT_FALSE(engine->running);
    EXPECT_FALSE(engine->worker.joinable());
}

TEST_F(ListeningTest, StartAndStop) {
    engine->open_listen_voice();
    ASSERT_TRUE(log.WaitFor("mainLoop thread started"));
    engine->close_listen_voice();
    EXPECT_EQ(WithoutWorkerStart(log.Texts()),
              (Lines{"waveIn device opened successfully, devCount: 1",
                     "Start listening for kelmor keywords", "mainLoop thread stopped",
                     "waveIn device closed", "Stop listening for kelmor"}));
    EXPECT_FALSE(engine->running);
    EXPECT_FALSE(engine->worker.joinable());
    EXPECT_EQ(fake::Wave().open_devices, 0);
    EXPECT_EQ(fake::Wave().open_events, 0);
}

TEST_F(ListeningTest, StopEndsTheWorkersWaitInsteadOfSittingOutItsTimeOut) {
    engine->open_listen_voice();
    ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));  // the worker waits for audio
    engine->close_listen_voice();
    EXPECT_EQ(fake::Wave().interrupted_waits, 1);
    EXPECT_FALSE(engine->worker.joinable());
    EXPECT_EQ(fake::Wave().open_events, 0);
}

TEST_F(ListeningTest, StopInterruptsNoWaitWhenNoWorkerRuns) {
    engine->close_listen_voice();
    engine->open_listen_voice();
    ASSERT_TRUE(fake::WaitQueued(kelmor::kCaptureBufferCount));
    EXPECT_EQ(fake::Wave().interrupted_waits, 0);
    engine->close_listen_voice();
}

TEST_F(ListeningTest, StartWhileListeningRestartsWithExactlyOneWorker) {
    engine->open_listen_voice();
    ASSERT_TRUE(log.WaitFor("mainLoop thread started"));
    log.Clear();
    engine->open_listen_voice();
    ASSERT_TRUE(log.WaitFor("mainLoop thread started"));
    EXPECT_EQ(WithoutWorkerStart(log.Texts()),
              (Lines{"mainLoop thread stopped", "waveIn device closed",
                     "waveIn device opened successfully, devCount: 1",
                     "Start listening for kelmor keywords"}));
    // The new worker is the one consuming audio.
    Feed(kQuiet);
    EXPECT_EQ(engine->quiet_samples, 1600);
    EXPECT_EQ(fake::Wave().open_devices, 1);
    engine->close_listen_voice();
    const Lines texts = log.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "mainLoop thread stopped"), 2);
}

TEST_F(ListeningTest, ThrowingWakeCallbackIsLoggedAndListeningGoesOn) {
    struct Case {
        const char* name;
        void (*thrower)();
        std::string line;
    } cases[] = {
        {"standard", [] { throw std::runtime_error("host failed"); },
         "kelmor callback exception: host failed"},
        {"other", [] { throw 42; }, "kelmor callback unknown exception"},
    };
    detect = [](const fake::FakeStream& s) {
        return !s.input_finished && !s.pending.empty() && s.pending[0] != 0.0f ? "HEY" : "";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wakes = 0;
        engine->set_wake_callback([this, &c] {
            ++wakes;
            c.thrower();
        });
        Listen();
        Feed(kLoud);
        Feed(kLoud);
        EXPECT_EQ(wakes, 2);
        const Lines texts = log.Texts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), c.line), 2);
        EXPECT_EQ(log.Lines()[1].level, 3);
        EXPECT_TRUE(engine->worker.joinable());
        engine->close_listen_voice();
    }
}

TEST_F(ListeningTest, WorkerThatCannotStartLeavesListeningStopped) {
    {
        const ThreadStartBlocker blocker;
        if (!blocker.active()) {
            GTEST_SKIP() << "new threads cannot be made to fail on this platform";
        }
        engine->open_listen_voice();
    }

    const Lines texts = log.Texts();
    ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "waveIn device opened successfully, devCount: 1");
    EXPECT_EQ(texts[1].rfind("open_listen_voice: failed to start worker thread: ", 0), 0u)
        << texts[1];
    EXPECT_EQ(log.Lines()[1].level, 3);
    EXPECT_EQ(texts[2], "waveIn device closed");
    EXPECT_FALSE(engine->running);
    EXPECT_FALSE(engine->worker.joinable());
    EXPECT_EQ(engine->wave_in, nullptr);
    EXPECT_EQ(fake::Wave().open_devices, 0);
    EXPECT_EQ(fake::Wave().open_events, 0);

    // A later start works.
    engine->open_listen_voice();
    EXPECT_TRUE(engine->worker.joinable());
}

}  // namespace
