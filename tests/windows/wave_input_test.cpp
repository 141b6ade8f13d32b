// Wave input through winmm with an event: open the wave mapper, cycle the four buffers, reset.
// It needs a capture source that plays a known signal, so it runs inside pulse_session.sh, whose
// private PulseAudio server has a pipe source fed with a ramp (1, 2, ... 65535, 1, ...) at real
// time; Wine's audio driver reads it. Elsewhere it is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/wave_input.h"
#include "win32_support.h"

namespace {

constexpr int kBuffers = 4;
constexpr std::uint32_t kBufferBytes = 3200;
constexpr std::size_t kBuffersToTake = 20;

TEST(Win32WaveInputTest, BuffersComeBackFullInQueueOrderAndResetHandsBackTheRest) {
    if (std::getenv("KELMOR_RAMP_SOURCE") == nullptr) {
        GTEST_SKIP() << "needs the ramp source of pulse_session.sh (KELMOR_RAMP_SOURCE)";
    }
    ASSERT_GE(platform::WaveInGetNumDevs(), 1u);

    platform::WaveFormat format{};
    format.wFormatTag = platform::kWaveFormatPcm;
    format.nChannels = 1;
    format.nSamplesPerSec = 16000;
    format.nAvgBytesPerSec = 32000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    platform::EventHandle event = platform::CreateCaptureEvent();
    ASSERT_NE(event, nullptr) << platform::LastError();
    platform::WaveInHandle wave_in = nullptr;
    ASSERT_EQ(platform::WaveInOpen(&wave_in, format, event), 0u);

    static char buffers[kBuffers][kBufferBytes];
    platform::WaveHeader headers[kBuffers];
    for (int i = 0; i < kBuffers; ++i) {
        platform::ZeroHeader(headers[i]);
        headers[i].lpData = buffers[i];
        headers[i].dwBufferLength = kBufferBytes;
        ASSERT_EQ(platform::WaveInPrepareHeader(wave_in, &headers[i]), 0u);
        EXPECT_NE(headers[i].dwFlags & platform::kWaveHeaderPrepared, 0u);
        ASSERT_EQ(platform::WaveInAddBuffer(wave_in, &headers[i]), 0u);
    }
    ASSERT_EQ(platform::WaveInStart(wave_in), 0u);

    std::vector<std::uint16_t> samples;
    std::size_t taken = 0;
    int oldest = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (taken < kBuffersToTake && std::chrono::steady_clock::now() < deadline) {
        const std::uint32_t wait = platform::WaitForEvent(event, 100);
        ASSERT_TRUE(wait == platform::kWaitObject0 || wait == platform::kWaitTimeout) << wait;
        // Read newest first: if a later buffer is done, every earlier one must be done by then.
        bool done[kBuffers];
        for (int n = kBuffers - 1; n >= 0; --n) {
            const int i = (oldest + n) % kBuffers;
            done[n] = (platform::LoadHeaderFlags(headers[i]) & platform::kWaveHeaderDone) != 0;
        }
        for (int n = 1; n < kBuffers; ++n) {
            EXPECT_TRUE(!done[n] || done[n - 1]) << "handed back out of queue order";
        }
        for (int n = 0; n < kBuffers && done[n]; ++n) {
            platform::WaveHeader& header = headers[oldest];
            EXPECT_EQ(header.dwBytesRecorded, kBufferBytes);
            const auto* data = reinterpret_cast<const unsigned char*>(header.lpData);
            for (std::uint32_t b = 0; b + 1 < header.dwBytesRecorded; b += 2) {
                samples.push_back(static_cast<std::uint16_t>(data[b] | data[b + 1] << 8));
            }
            header.dwBytesRecorded = 0;
            ASSERT_EQ(platform::WaveInAddBuffer(wave_in, &header), 0u);
            EXPECT_EQ(header.dwFlags & platform::kWaveHeaderDone, 0u);
            oldest = (oldest + 1) % kBuffers;
            ++taken;
        }
    }
    ASSERT_EQ(taken, kBuffersToTake);

    // After whatever silence came before the ramp, the samples arrive in order: each one follows
    // the one before, or lies ahead of it when audio was lost on the way (Wine's capture buffer
    // holds about 100 ms, and a process starved for longer on a busy machine loses audio). Going
    // back or repeating would be buffers out of order.
    std::size_t start = 0;
    while (start < samples.size() && samples[start] == 0) {
        ++start;
    }
    ASSERT_LT(start + 2 * 1600, samples.size()) << "less than 200 ms of the ramp arrived";
    std::size_t lost = 0;
    std::vector<std::string> out_of_order;
    for (std::size_t i = start + 1; i < samples.size(); ++i) {
        const std::size_t step = (samples[i] + 65535 - samples[i - 1]) % 65535;
        if (step == 0 || step > 65535 / 2) {
            out_of_order.push_back("sample " + std::to_string(i - start) + ": " +
                                   std::to_string(samples[i - 1]) + " then " +
                                   std::to_string(samples[i]));
        } else {
            lost += step - 1;
        }
    }
    EXPECT_TRUE(out_of_order.empty()) << ::testing::PrintToString(out_of_order);
    EXPECT_LT(lost, (samples.size() - start) / 2) << "most of the ramp was lost";

    platform::WaveInReset(wave_in);
    for (int i = 0; i < kBuffers; ++i) {
        EXPECT_NE(platform::LoadHeaderFlags(headers[i]) & platform::kWaveHeaderDone, 0u) << i;
        EXPECT_EQ(platform::WaveInUnprepareHeader(wave_in, &headers[i]), 0u);
        EXPECT_EQ(headers[i].dwFlags & platform::kWaveHeaderPrepared, 0u);
    }
    EXPECT_EQ(platform::WaveInClose(wave_in), 0u);
    platform::CloseEvent(event);
}

}  // namespace
