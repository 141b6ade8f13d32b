// Helpers shared by the benchmarks and the accuracy evaluation: PCM files, CPU clocks, resident
// memory, order statistics, and the keyword engine fed directly (no library in between).
#pragma once

#include "measure.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_summary.h"
#include "engine/sherpa_onnx.h"

// Exported by the engine; the library itself does not use it.
extern "C" void SherpaOnnxResetKeywordStream(const SherpaOnnxKeywordSpotter* spotter,
                                             const SherpaOnnxOnlineStream* stream);

namespace bench {

constexpr int kRate = 16000;
constexpr std::size_t kBufferBytes = 3200;    // one 100 ms capture buffer
constexpr std::size_t kBufferSamples = 1600;  // the same in samples
constexpr std::int32_t kFlushSamples = 4800;  // zeros the loop feeds at a flush
constexpr float kEnergyThreshold = 0.01f;     // the loop's energy gate
constexpr std::int32_t kQuietFlushSamples = kRate;

// The library's fixed engine settings.
constexpr float kFixedScore = 1.5f;
constexpr float kFixedThreshold = -2.0f;
constexpr int kFixedPaths = 8;

inline bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The PCM bytes of a 16 kHz 16-bit mono WAV file; empty if it has no data chunk.
inline std::string LoadWavPcm(const std::string& path) {
    const std::string file = ReadAll(path);
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        std::uint32_t size;
        std::memcpy(&size, file.data() + at + 4, 4);
        if (file.compare(at, 4, "data") == 0) {
            return file.substr(at + 8, size);
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

inline std::string Silence(double seconds) {
    return std::string(static_cast<std::size_t>(seconds * kRate) * 2, '\0');
}

// Pads with silence to a whole number of 100 ms buffers.
inline std::string PadToBuffers(std::string pcm) {
    const std::size_t rest = pcm.size() % kBufferBytes;
    if (rest != 0) {
        pcm.append(kBufferBytes - rest, '\0');
    }
    return pcm;
}

inline std::vector<std::string> Buffers(const std::string& pcm) {
    std::vector<std::string> buffers;
    for (std::size_t at = 0; at < pcm.size(); at += kBufferBytes) {
        buffers.push_back(pcm.substr(at, kBufferBytes));
    }
    return buffers;
}

inline void ToFloat(const char* pcm, std::size_t bytes, std::vector<float>& out) {
    out.resize(bytes / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::int16_t v;
        std::memcpy(&v, pcm + 2 * i, 2);
        out[i] = v / 32768.0f;
    }
}

// Index one past the last sample of a 10 ms window whose RMS is above `rms`: the end of speech.
inline std::size_t SpeechEnd(const std::string& pcm, double rms = 0.02) {
    const std::size_t samples = pcm.size() / 2;
    std::size_t end = 0;
    for (std::size_t s = 0; s + 160 <= samples; s += 160) {
        double sum = 0;
        for (std::size_t i = s; i < s + 160; ++i) {
            std::int16_t v;
            std::memcpy(&v, pcm.data() + 2 * i, 2);
            sum += (v / 32768.0) * (v / 32768.0);
        }
        if (sum / 160 > rms * rms) {
            end = s + 160;
        }
    }
    return end;
}

inline double ClockMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
inline double ThreadCpuMs() {
    return ClockMs(CLOCK_THREAD_CPUTIME_ID);
}
inline double ProcessCpuMs() {
    return ClockMs(CLOCK_PROCESS_CPUTIME_ID);
}
inline double WallMs() {
    return ClockMs(CLOCK_MONOTONIC);
}
// CPU time of another thread of this process, -1 if its clock cannot be had.
inline double OtherThreadCpuMs(pthread_t thread) {
    clockid_t clock{};
    if (pthread_getcpuclockid(thread, &clock) != 0) {
        return -1;
    }
    return ClockMs(clock);
}

// Resident set size of this process in KiB.
inline long RssKib() {
    return measure::ResidentKib();
}

// Order statistics over a copy of `values` (nearest rank).
struct Stats {
    double min = 0, p10 = 0, median = 0, p90 = 0, p99 = 0, max = 0, mean = 0;
    std::size_t n = 0;
};
inline double Rank(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) {
        return NAN;
    }
    const double at = std::ceil(q * static_cast<double>(sorted.size())) - 1;
    return sorted[static_cast<std::size_t>(std::clamp(at, 0.0, sorted.size() - 1.0))];
}
inline Stats Summarise(std::vector<double> values) {
    Stats s;
    s.n = values.size();
    if (values.empty()) {
        s.min = s.p10 = s.median = s.p90 = s.p99 = s.max = s.mean = NAN;
        return s;
    }
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.max = values.back();
    s.p10 = Rank(values, 0.10);
    s.median = Rank(values, 0.50);
    s.p90 = Rank(values, 0.90);
    s.p99 = Rank(values, 0.99);
    double sum = 0;
    for (double v : values) {
        sum += v;
    }
    s.mean = sum / static_cast<double>(values.size());
    return s;
}

// The shared model's own files (the patched int8 encoder), as the library lays them out.
struct ModelFiles {
    std::string encoder, decoder, joiner, tokens, keywords;

    explicit ModelFiles(const std::string& dir)
        : encoder(dir + "/encoder-epoch-12-avg-2-chunk-16-left-64.int8.patched.onnx"),
          decoder(dir + "/decoder-epoch-12-avg-2-chunk-16-left-64.onnx"),
          joiner(dir + "/joiner-epoch-12-avg-2-chunk-16-left-64.int8.onnx"),
          tokens(dir + "/tokens.txt"),
          keywords(dir + "/keywords.txt") {}
    bool Present() const {
        return Exists(encoder) && Exists(decoder) && Exists(joiner) && Exists(tokens) &&
               Exists(keywords);
    }
};

// A spotter with the given score and threshold and the library's other settings; null if the
// engine refuses. The engine prints its configuration and warnings to standard error.
inline const SherpaOnnxKeywordSpotter* MakeSpotter(const ModelFiles& files, float score,
                                                   float threshold, int paths = kFixedPaths) {
    SherpaOnnxKeywordSpotterConfig config{};
    config.model_config.transducer = {files.encoder.c_str(), files.decoder.c_str(),
                                      files.joiner.c_str()};
    config.model_config.tokens = files.tokens.c_str();
    config.model_config.num_threads = 1;
    config.model_config.provider = "cpu";
    config.max_active_paths = paths;
    config.keywords_score = score;
    config.keywords_threshold = threshold;
    config.keywords_file = files.keywords.c_str();
    return SherpaOnnxCreateKeywordSpotter(&config);
}

// The keyword of the stream's current result, or "" (the result is released here).
inline std::string TakeKeyword(const SherpaOnnxKeywordSpotter* spotter,
                               const SherpaOnnxOnlineStream* stream) {
    const SherpaOnnxKeywordResult* result = SherpaOnnxGetKeywordResult(spotter, stream);
    std::string keyword =
        result != nullptr && result->keyword != nullptr ? result->keyword : std::string();
    SherpaOnnxDestroyKeywordResult(result);
    return keyword;
}

inline void Pump(const SherpaOnnxKeywordSpotter* spotter, const SherpaOnnxOnlineStream* stream) {
    while (SherpaOnnxIsKeywordStreamReady(spotter, stream) != 0) {
        SherpaOnnxDecodeKeywordStream(spotter, stream);
    }
}

// The engine fed directly, one 100 ms buffer at a time, by a minimal program of ours.
//
// Minimal: samples in, decode, look at the result, reset the stream after a detection (as the
// engine's own examples do).
// SameWork: also does what the library's loop does besides feeding: the energy gate, and the
// flush (4800 zeros, input finished, a last decode, a new stream) after a detection or one
// second of quiet. The loop's only extra work is then the WAV image round trip and the device.
class DirectFeed {
  public:
    enum class Mode { Minimal, SameWork };

    DirectFeed(const SherpaOnnxKeywordSpotter* spotter, Mode mode)
        : spotter_(spotter), mode_(mode), stream_(SherpaOnnxCreateKeywordStream(spotter)) {}
    ~DirectFeed() { SherpaOnnxDestroyOnlineStream(stream_); }
    DirectFeed(const DirectFeed&) = delete;
    DirectFeed& operator=(const DirectFeed&) = delete;

    // Feeds one buffer; appends the keywords reported while it was processed.
    void Feed(const char* pcm, std::size_t bytes, std::vector<std::string>& keywords) {
        ToFloat(pcm, bytes, samples_);
        const auto count = static_cast<std::int32_t>(samples_.size());
        if (mode_ == Mode::SameWork) {
            float sum = 0.0f;
            for (float x : samples_) {
                sum += x * x;
            }
            const float rms = std::sqrt(sum / static_cast<float>(count));
            quiet_ = kEnergyThreshold > rms ? quiet_ + count : 0;
        }
        SherpaOnnxOnlineStreamAcceptWaveform(stream_, kRate, samples_.data(), count);
        Pump(spotter_, stream_);
        std::string keyword = TakeKeyword(spotter_, stream_);
        if (!keyword.empty()) {
            keywords.push_back(keyword);
            latched_ = true;
            if (mode_ == Mode::Minimal) {
                SherpaOnnxResetKeywordStream(spotter_, stream_);
                latched_ = false;
            }
        }
        if (mode_ == Mode::SameWork && (latched_ || quiet_ >= kQuietFlushSamples)) {
            static const std::vector<float> zeros(kFlushSamples, 0.0f);
            SherpaOnnxOnlineStreamAcceptWaveform(stream_, kRate, zeros.data(), kFlushSamples);
            SherpaOnnxOnlineStreamInputFinished(stream_);
            Pump(spotter_, stream_);
            keyword = TakeKeyword(spotter_, stream_);
            if (!keyword.empty() && !latched_) {
                keywords.push_back(keyword);
            }
            SherpaOnnxDestroyOnlineStream(stream_);
            stream_ = SherpaOnnxCreateKeywordStream(spotter_);
            quiet_ = 0;
            latched_ = false;
            ++flushes_;
        }
    }
    int flushes() const { return flushes_; }

  private:
    const SherpaOnnxKeywordSpotter* spotter_;
    Mode mode_;
    const SherpaOnnxOnlineStream* stream_;
    std::vector<float> samples_;
    std::int32_t quiet_ = 0;
    bool latched_ = false;
    int flushes_ = 0;
};

}  // namespace bench
