#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_object.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

class CaptureDeviceTest : public KelmorTest {
  protected:
    void SetUp() override {
        KelmorTest::SetUp();
        fake::Wave().device_count = 1;
        log.Install();
    }

    // Messages with their level, "E msg" for Error and so on, logged after construction.
    Lines Logged() const {
        Lines lines;
        for (const LoggedLine& line : log.Lines()) {
            const std::string text = Message(line);
            if (text.rfind("kelmor constructor", 0) != 0) {
                lines.push_back(std::string(1, "DIWE"[line.level]) + " " + text);
            }
        }
        return lines;
    }

    bool HeadersZero() const {
        for (const auto& header : engine.headers) {
            if (header.lpData != nullptr || header.dwBufferLength != 0 || header.dwFlags != 0) {
                return false;
            }
        }
        return true;
    }

    kelmor engine{"/m"};
};

TEST_F(CaptureDeviceTest, OpenPreparesAndQueuesTheFourBuffersThenStarts) {
    fake::Wave().device_count = 2;
    engine.device_invalid = true;
    ASSERT_TRUE(engine.open_capture_device());

    EXPECT_EQ(fake::Wave().calls, (Lines{"CreateEvent", "Open", "Prepare", "Add", "Prepare", "Add",
                                         "Prepare", "Add", "Prepare", "Add", "Start"}));
    EXPECT_EQ(Logged(), (Lines{"I waveIn device opened successfully, devCount: 2"}));
    EXPECT_NE(engine.wave_in, nullptr);
    EXPECT_NE(engine.capture_event, nullptr);
    EXPECT_FALSE(engine.device_invalid);
    for (int i = 0; i < kelmor::kCaptureBufferCount; ++i) {
        EXPECT_EQ(engine.headers[i].lpData, engine.buffers[i].data());
        EXPECT_EQ(engine.headers[i].dwBufferLength, 3200u);
        EXPECT_EQ(engine.headers[i].dwFlags, platform::kWaveHeaderPrepared);
    }

    engine.close_capture_device();
    EXPECT_EQ(engine.wave_in, nullptr);
    EXPECT_EQ(engine.capture_event, nullptr);
    EXPECT_TRUE(engine.device_invalid);
    EXPECT_TRUE(HeadersZero());
    EXPECT_EQ(fake::Wave().open_devices, 0);
    EXPECT_EQ(fake::Wave().open_events, 0);
    EXPECT_EQ(Logged().back(), "D waveIn device closed");
}

TEST_F(CaptureDeviceTest, EachFailedStepIsLoggedAndUndone) {
    struct Case {
        const char* name;
        std::function<void(fake::WaveState&)> fault;
        Lines logged;
        bool full_close;  // the failure came after the device was opened
    };
    const Case cases[] = {
        {"no device",
         [](fake::WaveState& s) { s.device_count = 0; },
         {"E No audio input device available"},
         false},
        {"event",
         [](fake::WaveState& s) {
             s.fail_create_event = true;
             s.last_error = 8;
         },
         {"E CreateEvent failed, error=8"},
         false},
        {"open",
         [](fake::WaveState& s) { s.open_result = 4; },
         {"E Failed to open microphone device, error code: 4"},
         false},
        {"prepare 2",
         [](fake::WaveState& s) {
             s.prepare = {2, 11};
         },
         {"E waveInPrepareHeader failed, index=2, error=11", "D waveIn device closed"},
         true},
        {"add 2",
         [](fake::WaveState& s) {
             s.add = {2, 5};
         },
         {"E waveInAddBuffer failed, index=2, error=5", "D waveIn device closed"},
         true},
        {"start",
         [](fake::WaveState& s) { s.start_result = 1; },
         {"E waveInStart failed, error=1", "D waveIn device closed"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::ResetWave();
        fake::Wave().device_count = 1;
        c.fault(fake::Wave());
        log.Clear();
        engine.device_invalid = false;

        EXPECT_FALSE(engine.open_capture_device());
        EXPECT_EQ(Logged(), c.logged);
        EXPECT_EQ(engine.wave_in, nullptr);
        EXPECT_EQ(engine.capture_event, nullptr);
        EXPECT_EQ(fake::Wave().open_devices, 0);
        EXPECT_EQ(fake::Wave().open_events, 0);
        EXPECT_TRUE(HeadersZero());
        // Only the full close marks the device invalid; the early failures leave it as it was.
        EXPECT_EQ(engine.device_invalid, c.full_close);
    }
    fake::ResetWave();
    fake::Wave().device_count = 0;
    engine.open_capture_device();
    EXPECT_TRUE(fake::Wave().calls.empty()) << "no device: no handle is created";
}

TEST_F(CaptureDeviceTest, CloseWithNothingOpenOnlyMarksTheDeviceInvalid) {
    engine.close_capture_device();
    engine.close_capture_device();
    EXPECT_TRUE(engine.device_invalid);
    EXPECT_TRUE(fake::Wave().calls.empty());
    EXPECT_TRUE(Logged().empty());
}

TEST_F(CaptureDeviceTest, ReopenCountsTheFailedAttemptsBeforeSuccess) {
    fake::Wave().absent_opens = 2;
    ASSERT_TRUE(engine.reopen_capture_device());
    EXPECT_FALSE(engine.device_invalid);
    EXPECT_EQ(Logged(), (Lines{
                            "I Attempting to reopen audio device...",
                            "E No audio input device available",
                            "D Reopen failed, retry 1/3, waiting 500ms...",
                            "E No audio input device available",
                            "D Reopen failed, retry 2/3, waiting 500ms...",
                            "I waveIn device opened successfully, devCount: 1",
                            "I Audio device reopened successfully (retry=2)",
                        }));

    log.Clear();
    ASSERT_TRUE(engine.reopen_capture_device());
    EXPECT_EQ(Logged(), (Lines{
                            "I Attempting to reopen audio device...",
                            "D waveIn device closed",
                            "I waveIn device opened successfully, devCount: 1",
                            "I Audio device reopened successfully (retry=0)",
                        }));
    engine.close_capture_device();
}

TEST_F(CaptureDeviceTest, ReopenGivesUpAfterThreeAttemptsHalfASecondApart) {
    fake::Wave().open_result = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine.reopen_capture_device());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_TRUE(engine.device_invalid);
    EXPECT_EQ(Logged(), (Lines{
                            "I Attempting to reopen audio device...",
                            "E Failed to open microphone device, error code: 2",
                            "D Reopen failed, retry 1/3, waiting 500ms...",
                            "E Failed to open microphone device, error code: 2",
                            "D Reopen failed, retry 2/3, waiting 500ms...",
                            "E Failed to open microphone device, error code: 2",
                            "D Reopen failed, retry 3/3, waiting 500ms...",
                            "E Failed to reopen audio device after 3 retries",
                        }));
}

}  // namespace
