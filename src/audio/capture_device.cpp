// The capture device: the default wave-input device, 16 kHz 16-bit mono, with four fixed
// buffers that the device fills in turn and one event it signals for each buffer handed back.
#include <chrono>
#include <thread>

#include "engine/engine_object.h"
#include "log/logger.h"

namespace {

constexpr int kReopenAttempts = 3;
constexpr auto kReopenPause = std::chrono::milliseconds(500);

platform::WaveFormat CaptureFormat() {
    platform::WaveFormat format{};
    format.wFormatTag = platform::kWaveFormatPcm;
    format.nChannels = 1;
    format.nSamplesPerSec = 16000;
    format.nAvgBytesPerSec = 32000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

}  // namespace

bool kelmor::open_capture_device() {
    const platform::WaveFormat format = CaptureFormat();

    const std::uint32_t device_count = platform::WaveInGetNumDevs();
    if (device_count == 0) {
        Log(LogLevel::Error, "No audio input device available");
        return false;
    }

    if (capture_event != nullptr) {
        platform::CloseEvent(capture_event);
        capture_event = nullptr;
    }
    capture_event = platform::CreateCaptureEvent();
    if (capture_event == nullptr) {
        Log(LogLevel::Error, "CreateEvent failed, error=", platform::LastError());
        return false;
    }

    const std::uint32_t open_result = platform::WaveInOpen(&wave_in, format, capture_event);
    if (open_result != 0) {
        Log(LogLevel::Error, "Failed to open microphone device, error code: ", open_result);
        wave_in = nullptr;
        platform::CloseEvent(capture_event);
        capture_event = nullptr;
        return false;
    }

    for (int i = 0; i < kCaptureBufferCount; ++i) {
        platform::WaveHeader& header = headers[i];
        platform::ZeroHeader(header);
        header.lpData = buffers[i].data();
        header.dwBufferLength = kCaptureBufferBytes;

        const std::uint32_t prepare_result = platform::WaveInPrepareHeader(wave_in, &header);
        if (prepare_result != 0) {
            Log(LogLevel::Error, "waveInPrepareHeader failed, index=", i,
                ", error=", prepare_result);
            close_capture_device();
            return false;
        }
        const std::uint32_t add_result = platform::WaveInAddBuffer(wave_in, &header);
        if (add_result != 0) {
            Log(LogLevel::Error, "waveInAddBuffer failed, index=", i, ", error=", add_result);
            close_capture_device();
            return false;
        }
    }

    const std::uint32_t start_result = platform::WaveInStart(wave_in);
    if (start_result != 0) {
        Log(LogLevel::Error, "waveInStart failed, error=", start_result);
        close_capture_device();
        return false;
    }

    device_invalid.exchange(false);
    Log(LogLevel::Info, "waveIn device opened successfully, devCount: ", device_count);
    return true;
}

void kelmor::close_capture_device() {
    device_invalid.exchange(true);
    if (wave_in != nullptr) {
        platform::WaveInReset(wave_in);
        for (platform::WaveHeader& header : headers) {
            if ((header.dwFlags & platform::kWaveHeaderPrepared) != 0) {
                platform::WaveInUnprepareHeader(wave_in, &header);
            }
            platform::ZeroHeader(header);
        }
        platform::WaveInClose(wave_in);
        wave_in = nullptr;
        Log(LogLevel::Debug, "waveIn device closed");
    }
    if (capture_event != nullptr) {
        platform::CloseEvent(capture_event);
        capture_event = nullptr;
    }
}

bool kelmor::reopen_capture_device() {
    Log(LogLevel::Info, "Attempting to reopen audio device...");
    close_capture_device();
    int failures = 0;
    for (;;) {
        if (open_capture_device()) {
            device_invalid.exchange(false);
            Log(LogLevel::Info, "Audio device reopened successfully (retry=", failures, ")");
            return true;
        }
        ++failures;
        Log(LogLevel::Debug, "Reopen failed, retry ", failures, "/", kReopenAttempts,
            ", waiting 500ms...");
        std::this_thread::sleep_for(kReopenPause);
        if (failures >= kReopenAttempts) {
            Log(LogLevel::Error, "Failed to reopen audio device after 3 retries");
            return false;
        }
    }
}
