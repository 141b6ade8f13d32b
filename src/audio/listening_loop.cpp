// The worker thread's loop: waits for captured buffers, feeds them through the energy gate into
// the keyword stream, reports detections, renews the stream, and reopens a failing device.
#include "audio/listening_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "engine/engine_object.h"
#include "log/logger.h"

void* (*wav_image_alloc)(std::size_t size) = std::malloc;

namespace {

constexpr std::uint32_t kWaitMs = 100;
constexpr auto kIdleSleep = std::chrono::milliseconds(20);
constexpr int kBackoffSteps = 20;
constexpr auto kBackoffStep = std::chrono::milliseconds(100);
constexpr std::int32_t kChunkSamples = 3200;
constexpr std::int32_t kFlushSamples = 4800;  // 0.3 s of trailing silence lets the model finish
constexpr std::uint32_t kWavHeaderBytes = 44;

void PutLe16(char* at, std::uint16_t value) {
    at[0] = static_cast<char>(value & 0xFF);
    at[1] = static_cast<char>(value >> 8);
}

void PutLe32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

struct FreeBlock {
    void operator()(char* block) const { std::free(block); }
};
struct FreeWave {
    void operator()(const SherpaOnnxWave* wave) const { SherpaOnnxFreeWave(wave); }
};
using ImageBlock = std::unique_ptr<char, FreeBlock>;
using WaveRecord = std::unique_ptr<const SherpaOnnxWave, FreeWave>;

// Owns one fetched keyword result. Unlike a unique_ptr it calls the destroy function for an
// absent result too, as every fetch is paired with one destroy.
class KeywordResult {
  public:
    explicit KeywordResult(const SherpaOnnxKeywordResult* result) : result_(result) {}
    ~KeywordResult() { SherpaOnnxDestroyKeywordResult(result_); }
    KeywordResult(const KeywordResult&) = delete;
    KeywordResult& operator=(const KeywordResult&) = delete;

    const char* keyword() const {
        return result_ != nullptr && result_->keyword != nullptr && result_->keyword[0] != '\0'
                   ? result_->keyword
                   : nullptr;
    }

  private:
    const SherpaOnnxKeywordResult* result_;
};

void DecodePump(const kelmor& engine) {
    while (SherpaOnnxIsKeywordStreamReady(engine.spotter, engine.stream) != 0) {
        SherpaOnnxDecodeKeywordStream(engine.spotter, engine.stream);
    }
}

// Fetches the stream's result; a keyword is logged and, unless one was already reported since
// the last flush, dispatched to the host. True when there was a keyword.
bool ReportKeyword(kelmor& engine) {
    const KeywordResult result(SherpaOnnxGetKeywordResult(engine.spotter, engine.stream));
    const char* keyword = result.keyword();
    if (keyword == nullptr) {
        return false;
    }
    Log(LogLevel::Info, "Keyword detected: ", keyword);
    if (!engine.keyword_latched) {
        engine.dispatch_wake();
    }
    return true;
}

// Ends the stream with trailing silence so a keyword at its very end is still decoded, then
// replaces it.
void FlushStream(kelmor& engine, std::int32_t rate) {
    const float zeros[kFlushSamples] = {};
    SherpaOnnxOnlineStreamAcceptWaveform(engine.stream, rate, zeros, kFlushSamples);
    SherpaOnnxOnlineStreamInputFinished(engine.stream);
    DecodePump(engine);
    ReportKeyword(engine);
    SherpaOnnxDestroyOnlineStream(engine.stream);
    engine.stream = nullptr;  // never left dangling should the engine throw below
    engine.stream = SherpaOnnxCreateKeywordStream(engine.spotter);
    if (engine.stream == nullptr) {
        // Every later buffer is handed back unprocessed; without this line the host would never
        // learn why detections stopped.
        Log(LogLevel::Error, "SherpaOnnxCreateKeywordStream failed after flush, detection stopped");
    }
    engine.quiet_samples = 0;
    engine.keyword_latched = false;
}

// One handed-back buffer of `n` bytes. `image_failure_logged` keeps a run of failed image
// allocations down to one line.
void ProcessBuffer(kelmor& engine, const char* data, std::uint32_t n, bool& image_failure_logged) {
    std::uint32_t image_size = 0;
    const ImageBlock image(build_wav_image(data, n, 1, 16000, 16, &image_size));
    if (!image) {
        if (!image_failure_logged) {
            Log(LogLevel::Error, "build_wav_image failed: out of memory, audio buffer skipped");
            image_failure_logged = true;
        }
        return;
    }
    image_failure_logged = false;

    const WaveRecord wave(
        SherpaOnnxReadWaveFromBinaryData(image.get(), static_cast<std::int32_t>(image_size)));
    if (!wave) {
        Log(LogLevel::Error, "Failed to read from microphone");
        return;
    }

    const std::int32_t count = wave->num_samples;
    for (std::int32_t s = 0; s < count; s += kChunkSamples) {
        const std::int32_t length = std::min(count, s + kChunkSamples) - s;
        const float* chunk = wave->samples + s;
        if (is_quiet_chunk(chunk, length, engine.energy_threshold)) {
            engine.quiet_samples += length;
        } else {
            engine.quiet_samples = 0;
        }
        SherpaOnnxOnlineStreamAcceptWaveform(engine.stream, wave->sample_rate, chunk, length);
        DecodePump(engine);
        if (ReportKeyword(engine)) {
            engine.keyword_latched = true;
        }
    }

    if (engine.keyword_latched || engine.quiet_samples >= engine.sample_rate) {
        FlushStream(engine, wave->sample_rate);
    }
}

}  // namespace

char* build_wav_image(const char* pcm, std::uint32_t n, std::uint16_t channels,
                      std::uint32_t sample_rate, std::uint16_t bits_per_sample,
                      std::uint32_t* size) {
    auto* image = static_cast<char*>(wav_image_alloc(kWavHeaderBytes + n));
    if (image == nullptr) {
        return nullptr;
    }
    const std::uint32_t byte_rate = sample_rate * channels * bits_per_sample / 8;
    const auto block_align = static_cast<std::uint16_t>(channels * bits_per_sample / 8);
    std::memcpy(image + 0, "RIFF", 4);
    PutLe32(image + 4, n + 36);
    std::memcpy(image + 8, "WAVE", 4);
    std::memcpy(image + 12, "fmt ", 4);
    PutLe32(image + 16, 16);
    PutLe16(image + 20, 1);
    PutLe16(image + 22, channels);
    PutLe32(image + 24, sample_rate);
    PutLe32(image + 28, byte_rate);
    PutLe16(image + 32, block_align);
    PutLe16(image + 34, bits_per_sample);
    std::memcpy(image + 36, "data", 4);
    PutLe32(image + 40, n);
    if (n > 0) {
        std::memcpy(image + kWavHeaderBytes, pcm, n);
    }
    *size = kWavHeaderBytes + n;
    return image;
}

bool is_quiet_chunk(const float* samples, std::int32_t count, float threshold) {
    float sum = 0.0f;
    for (std::int32_t i = 0; i < count; ++i) {
        sum += samples[i] * samples[i];
    }
    const float rms = std::sqrt(sum / static_cast<float>(count));
    return threshold > rms;
}

void kelmor::mainLoop() {
    Log(LogLevel::Debug, "mainLoop thread started");
    bool image_failure_logged = false;
    int oldest = 0;  // the header queued longest; an open queues them from index 0
    try {
        while (running.load()) {
            if (device_invalid.load()) {
                Log(LogLevel::Info, "Device invalid detected in mainLoop, attempting reopen...");
                if (reopen_capture_device()) {
                    oldest = 0;
                } else {
                    Log(LogLevel::Error, "Device reopen failed, will retry in 2 seconds...");
                    for (int step = 0; step < kBackoffSteps; ++step) {
                        if (!running.load()) {
                            break;
                        }
                        std::this_thread::sleep_for(kBackoffStep);
                    }
                }
                continue;
            }
            if (capture_event == nullptr || wave_in == nullptr) {
                std::this_thread::sleep_for(kIdleSleep);
                continue;
            }

            const std::uint32_t wait = platform::WaitForEvent(capture_event, kWaitMs);
            const std::uint32_t wait_error =
                wait == platform::kWaitObject0 || wait == platform::kWaitTimeout
                    ? 0
                    : platform::LastError();
            if (!running.load()) {
                break;
            }
            if (wait == platform::kWaitTimeout) {
                continue;
            }
            if (wait != platform::kWaitObject0) {
                Log(LogLevel::Error, "WaitForSingleObject failed, ret=", wait,
                    ", error=", wait_error);
                device_invalid.exchange(true);
                continue;
            }

            // Buffers come back in the order they were queued. Starting the scan at the oldest
            // one keeps the audio in order when the device has wrapped round past index 3 before
            // the loop got to it (a slow pass, or a source faster than real time).
            const int first = oldest;
            for (int n = 0; n < kCaptureBufferCount; ++n) {
                const int i = (first + n) % kCaptureBufferCount;
                if (!running.load() || device_invalid.load()) {
                    break;
                }
                platform::WaveHeader& header = headers[i];
                if ((platform::LoadHeaderFlags(header) & platform::kWaveHeaderDone) == 0) {
                    continue;
                }
                oldest = (i + 1) % kCaptureBufferCount;
                if (header.dwBytesRecorded != 0 && spotter != nullptr && stream != nullptr) {
                    ProcessBuffer(*this, header.lpData, header.dwBytesRecorded,
                                  image_failure_logged);
                }
                header.dwBytesRecorded = 0;
                if (running.load() && !device_invalid.load() && wave_in != nullptr) {
                    const std::uint32_t result = platform::WaveInAddBuffer(wave_in, &header);
                    if (result != 0) {
                        Log(LogLevel::Error, "waveInAddBuffer failed in mainLoop, index=", i,
                            ", error=", result);
                        device_invalid.exchange(true);
                        break;
                    }
                }
            }
        }
    } catch (const std::exception& e) {
        Log(LogLevel::Error, "mainLoop exception: ", e.what());
    } catch (...) {
        Log(LogLevel::Error, "mainLoop unknown exception");
    }
    Log(LogLevel::Debug, "mainLoop thread stopped");
}
