// The Linux wave input on real ALSA, driven through the platform seam the way the listening loop
// drives it. ALSA's `default` PCM is redirected by a private .asoundrc: the `file` plugin gives
// exact bytes at once, a private PulseAudio pipe source gives exact bytes at real time.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "audio_env.h"
#include "platform/wave_input.h"

namespace {

using namespace std::chrono_literals;
using audio_env::Feeder;
using audio_env::PulseServer;
using audio_env::TempDir;

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr std::uint32_t kBufferBytes = 3200;

std::size_t FirstDifference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) {
        ++i;
    }
    return i;
}

platform::WaveFormat CaptureFormat() {
    return {platform::kWaveFormatPcm, 1, 16000, 32000, 2, 16, 0};
}

// Four buffers queued on the default device, taken back in queue order.
class Capture {
  public:
    ~Capture() { Close(); }

    std::uint32_t Open() {
        event_ = platform::CreateCaptureEvent();
        if (event_ == nullptr) {
            return ENOMEM;
        }
        const std::uint32_t opened = platform::WaveInOpen(&device_, CaptureFormat(), event_);
        if (opened != 0) {
            return opened;
        }
        for (std::size_t i = 0; i < headers_.size(); ++i) {
            headers_[i].lpData = buffers_[i].data();
            headers_[i].dwBufferLength = kBufferBytes;
            if (const auto r = platform::WaveInPrepareHeader(device_, &headers_[i])) {
                return r;
            }
            if (const auto r = platform::WaveInAddBuffer(device_, &headers_[i])) {
                return r;
            }
        }
        return platform::WaveInStart(device_);
    }

    // Takes handed-back buffers until `bytes` bytes came or the wait fails (wait_result then
    // holds its answer, wait_error the last error). `requeue` false leaves them with the test.
    std::string Read(std::size_t bytes, std::chrono::milliseconds timeout = 10s,
                     bool requeue = true) {
        std::string data;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (data.size() < bytes && std::chrono::steady_clock::now() < deadline) {
            const std::uint32_t wait = platform::WaitForEvent(event_, 100);
            if (wait == platform::kWaitTimeout) {
                continue;
            }
            if (wait != platform::kWaitObject0) {
                wait_result = wait;
                wait_error = platform::LastError();
                break;
            }
            // Handed back in queue order: the next one in turn.
            while (data.size() < bytes && Done(next_)) {
                platform::WaveHeader& header = headers_[next_];
                data.append(header.lpData, header.dwBytesRecorded);
                ++handed_back;
                if (requeue) {
                    header.dwBytesRecorded = 0;
                    EXPECT_EQ(platform::WaveInAddBuffer(device_, &header), 0u);
                }
                next_ = (next_ + 1) % headers_.size();
            }
        }
        return data;
    }

    void Close() {
        if (device_ != nullptr) {
            platform::WaveInReset(device_);
            for (auto& header : headers_) {
                platform::WaveInUnprepareHeader(device_, &header);
            }
            platform::WaveInClose(device_);
            device_ = nullptr;
        }
        if (event_ != nullptr) {
            platform::CloseEvent(event_);
            event_ = nullptr;
        }
    }

    bool Done(std::size_t i) const {
        return (headers_[i].dwFlags.load() & platform::kWaveHeaderDone) != 0;
    }

    platform::WaveInHandle device_ = nullptr;
    platform::EventHandle event_ = nullptr;
    std::array<platform::WaveHeader, 4> headers_{};
    std::array<std::array<char, kBufferBytes>, 4> buffers_{};
    std::size_t next_ = 0;
    std::uint32_t wait_result = 0;
    std::uint32_t wait_error = 0;
    int handed_back = 0;
};

class AlsaWaveInputTest : public ::testing::Test {
  protected:
    // Each test redirects ALSA anew; ALSA keeps its configuration until told to drop it.
    void UseConfig(const std::string& config) {
        audio_env::UseAlsaConfig(home.path(), config);
        snd_config_update_free_global();
    }

    void UseFile(const std::string& bytes) {
        const std::string file = home.path() + "/capture.raw";
        audio_env::WriteFile(file, bytes);
        UseConfig(audio_env::FileCaptureConfig(file));
    }

    TempDir home;
};

TEST_F(AlsaWaveInputTest, ReadsTheCapturedBytesExactlyAndInQueueOrder) {
    // Past its end the file plugin repeats the last period it read, so the file ends in a second
    // of silence; the noise is not a whole number of buffers.
    const std::string noise = audio_env::NoiseBytes(80000 + 1000, 7);
    const std::string audio = noise + std::string(32000, '\0');
    UseFile(audio);
    EXPECT_EQ(platform::WaveInGetNumDevs(), 1u);

    Capture capture;
    ASSERT_EQ(capture.Open(), 0u);
    const std::string data = capture.Read(audio.size() + 2200);
    ASSERT_EQ(data.size(), audio.size() + 2200);
    EXPECT_EQ(FirstDifference(data, noise), noise.size()) << "captured bytes differ";
    const std::string tail = data.substr(noise.size());
    EXPECT_EQ(tail.find_first_not_of('\0'), std::string::npos) << "not silence after the noise";
}

TEST_F(AlsaWaveInputTest, NoCaptureDeviceCountsZeroAndDoesNotOpen) {
    UseConfig("pcm.!default { type hw; card 29 }\n");
    EXPECT_EQ(platform::WaveInGetNumDevs(), 0u);
    Capture capture;
    EXPECT_NE(capture.Open(), 0u);
    EXPECT_EQ(capture.device_, nullptr);
}

TEST_F(AlsaWaveInputTest, FormatsTheDeviceCannotTakeAreRefused) {
    UseFile(std::string(3200, '\0'));
    platform::EventHandle event = platform::CreateCaptureEvent();
    ASSERT_NE(event, nullptr);
    platform::WaveFormat format = CaptureFormat();
    format.wBitsPerSample = 24;
    platform::WaveInHandle device = nullptr;
    EXPECT_EQ(platform::WaveInOpen(&device, format, event), static_cast<std::uint32_t>(EINVAL));
    EXPECT_EQ(device, nullptr);
    platform::CloseEvent(event);
}

// PulseAudio gives real-time capture, a device that blocks, and a device that can vanish.
class PulseWaveInputTest : public AlsaWaveInputTest {
  protected:
    void SetUp() override {
        if (!audio_env::Installed("pulseaudio")) {
            GTEST_SKIP() << "pulseaudio is not installed (scripts/setup.sh installs it)";
        }
        server = std::make_unique<PulseServer>(home.path());
        ASSERT_TRUE(server->Start()) << server->error();
        UseConfig(audio_env::PulseConfig(server->socket()));
    }

    std::unique_ptr<PulseServer> server;
};

TEST_F(PulseWaveInputTest, RealTimeCaptureKeepsEveryByteInOrder) {
    const std::string audio = audio_env::NoiseBytes(32000, 11);  // 1 s
    Capture capture;
    ASSERT_EQ(capture.Open(), 0u);
    Feeder feeder(server->fifo(), audio);
    // The stream may start with a little silence before the feeder's first bytes.
    const std::string data = capture.Read(32000 + 16000);
    feeder.Stop();
    const std::size_t at = data.find(audio.substr(0, 64));
    ASSERT_NE(at, std::string::npos) << "the fed audio never arrived";
    ASSERT_GE(data.size() - at, audio.size());
    EXPECT_EQ(FirstDifference(data.substr(at, audio.size()), audio), audio.size());
    EXPECT_EQ(capture.wait_result, 0u);
}

TEST_F(PulseWaveInputTest, ResetHandsBackEveryQueuedBufferAndDoesNotWaitForAudio) {
    Capture capture;  // nothing is fed: the capture thread waits for data
    ASSERT_EQ(capture.Open(), 0u);
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::WaveInReset(capture.device_), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(capture.Done(i)) << i;
        EXPECT_EQ(capture.headers_[i].dwBytesRecorded, 0u) << i;
    }
    EXPECT_EQ(platform::WaitForEvent(capture.event_, 0), platform::kWaitObject0);
}

TEST_F(PulseWaveInputTest, VanishedServerFailsTheWaitAndTheDeviceComesBack) {
    Capture capture;
    ASSERT_EQ(capture.Open(), 0u);
    {
        Feeder feeder(server->fifo(), audio_env::NoiseBytes(6400, 3));
        ASSERT_FALSE(capture.Read(6400).empty());
    }
    server->Stop();
    capture.Read(1u << 30, 5s);
    EXPECT_EQ(capture.wait_result, kWaitFailed);
    EXPECT_NE(capture.wait_error, 0u);
    capture.Close();
    EXPECT_EQ(platform::WaveInGetNumDevs(), 0u);

    ASSERT_TRUE(server->Start()) << server->error();
    EXPECT_EQ(platform::WaveInGetNumDevs(), 1u);
    Capture again;
    EXPECT_EQ(again.Open(), 0u);
}

// PulseAudio's record stream keeps what a slow reader has not taken (no overrun reaches ALSA's
// pulse plugin), so a reader that stalls for two seconds still gets every byte, only later.
TEST_F(PulseWaveInputTest, StalledReaderStillGetsEveryByte) {
    const std::string audio = audio_env::NoiseBytes(32000 * 3, 5);
    Capture capture;
    ASSERT_EQ(capture.Open(), 0u);
    Feeder feeder(server->fifo(), audio);
    std::string data = capture.Read(4 * kBufferBytes, 5s, false);
    ASSERT_EQ(capture.handed_back, 4);
    std::this_thread::sleep_for(2s);
    for (auto& header : capture.headers_) {
        header.dwBytesRecorded = 0;
        ASSERT_EQ(platform::WaveInAddBuffer(capture.device_, &header), 0u);
    }
    data += capture.Read(audio.size() + 16000, 10s);
    EXPECT_EQ(capture.wait_result, 0u);
    const std::size_t at = data.find(audio.substr(0, 64));
    ASSERT_NE(at, std::string::npos) << "the fed audio never arrived";
    ASSERT_GE(data.size() - at, audio.size());
    EXPECT_EQ(FirstDifference(data.substr(at, audio.size()), audio), audio.size());
}

}  // namespace
