// Listening-loop figures with the real keyword engine and the shared model, audio handed over by
// the scripted capture device:
//   1. cost of one 100 ms buffer through the loop, against the same audio fed to the engine
//      directly;
//   2. time from the end of a spoken keyword to the wake callback, buffers handed over at real
//      time as a device would;
//   3. time a stop (close_listen_voice) takes while listening.
// Prints figures; never fails.
//
// usage: kelmor-listening-bench [MODEL_DIR]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_object.h"
#include "fake_wave_input.h"
#include "log/logger.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kBufferBytes = 3200;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

// The PCM bytes of a 16 kHz 16-bit mono WAV file.
std::string LoadPcm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string file = text.str();
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

std::vector<std::string> Buffers(const std::string& pcm) {
    std::vector<std::string> buffers;
    for (std::size_t at = 0; at < pcm.size(); at += kBufferBytes) {
        buffers.push_back(pcm.substr(at, kBufferBytes));
    }
    return buffers;
}

// Index of the last sample of a 10 ms window louder than `rms` (the end of the speech).
std::size_t SpeechEnd(const std::string& pcm) {
    const std::size_t samples = pcm.size() / 2;
    std::size_t end = 0;
    for (std::size_t s = 0; s + 160 <= samples; s += 160) {
        double sum = 0;
        for (std::size_t i = s; i < s + 160; ++i) {
            std::int16_t v;
            std::memcpy(&v, pcm.data() + 2 * i, 2);
            sum += (v / 32768.0) * (v / 32768.0);
        }
        if (sum / 160 > 0.02 * 0.02) {
            end = s + 160;
        }
    }
    return end;
}

struct Model {
    std::string encoder, decoder, joiner, tokens, keywords;
    SherpaOnnxKeywordSpotterConfig config{};

    explicit Model(const std::string& dir)
        : encoder(dir + "/encoder-epoch-12-avg-2-chunk-16-left-64.int8.patched.onnx"),
          decoder(dir + "/decoder-epoch-12-avg-2-chunk-16-left-64.onnx"),
          joiner(dir + "/joiner-epoch-12-avg-2-chunk-16-left-64.int8.onnx"),
          tokens(dir + "/tokens.txt"),
          keywords(dir + "/keywords.txt") {
        config.model_config.transducer = {encoder.c_str(), decoder.c_str(), joiner.c_str()};
        config.model_config.tokens = tokens.c_str();
        config.model_config.num_threads = 1;
        config.model_config.provider = "cpu";
        config.keywords_file = keywords.c_str();
    }
    bool Present() const { return Exists(encoder) && Exists(decoder) && Exists(joiner); }
};

// The same audio straight into a stream: 100 ms chunks, decode pump, one result each.
double DirectMsPerBuffer(const SherpaOnnxKeywordSpotter* spotter,
                         const std::vector<std::string>& buffers, int rounds, int& detections) {
    const auto start = Clock::now();
    std::vector<float> samples;
    for (int r = 0; r < rounds; ++r) {
        const SherpaOnnxOnlineStream* stream = SherpaOnnxCreateKeywordStream(spotter);
        for (const std::string& buffer : buffers) {
            samples.resize(buffer.size() / 2);
            for (std::size_t i = 0; i < samples.size(); ++i) {
                std::int16_t v;
                std::memcpy(&v, buffer.data() + 2 * i, 2);
                samples[i] = v / 32768.0f;
            }
            SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, samples.data(),
                                                 static_cast<std::int32_t>(samples.size()));
            while (SherpaOnnxIsKeywordStreamReady(spotter, stream) != 0) {
                SherpaOnnxDecodeKeywordStream(spotter, stream);
            }
            const SherpaOnnxKeywordResult* result = SherpaOnnxGetKeywordResult(spotter, stream);
            const bool detected = result != nullptr && result->keyword[0] != '\0';
            SherpaOnnxDestroyKeywordResult(result);
            if (detected) {
                ++detections;
                SherpaOnnxDestroyOnlineStream(stream);
                stream = SherpaOnnxCreateKeywordStream(spotter);
            }
        }
        SherpaOnnxDestroyOnlineStream(stream);
    }
    return Ms(Clock::now() - start) / (rounds * static_cast<double>(buffers.size()));
}

class Listening {
  public:
    explicit Listening(const SherpaOnnxKeywordSpotter* spotter) : engine_("bench") {
        engine_.spotter = spotter;
        engine_.stream = SherpaOnnxCreateKeywordStream(spotter);
        engine_.set_wake_callback([this] {
            last_wake_ = Clock::now().time_since_epoch().count();
            ++wakes_;
        });
    }
    ~Listening() {
        engine_.close_listen_voice();
        engine_.spotter = nullptr;  // the bench owns it
    }

    void Start() { engine_.open_listen_voice(); }
    void Stop() { engine_.close_listen_voice(); }

    // Hands a buffer over and waits until the loop has re-queued it.
    void Feed(const std::string& buffer) {
        fake::Deliver(buffer);
        fake::WaitQueued(kelmor::kCaptureBufferCount);
    }

    int wakes() const { return wakes_; }
    Clock::time_point last_wake() const {
        return Clock::time_point(Clock::duration(last_wake_.load()));
    }

  private:
    kelmor engine_;
    std::atomic<int> wakes_{0};
    std::atomic<Clock::rep> last_wake_{0};
};

void Quiet(std::int32_t, const char*, void*) {}

}  // namespace

int main(int argc, char** argv) {
    const std::string model_dir = argc > 1 ? argv[1] : KELMOR_MODEL_DIR;
    Model model(model_dir);
    if (!model.Present()) {
        std::printf("listening bench: no model in %s, skipped\n", model_dir.c_str());
        return 0;
    }
    Logger::instance().set_callback(Quiet, nullptr);
    fake::Wave().device_count = 1;

    const SherpaOnnxKeywordSpotter* spotter = SherpaOnnxCreateKeywordSpotter(&model.config);
    if (spotter == nullptr) {
        std::printf("listening bench: the engine refused the model, skipped\n");
        return 0;
    }
    const std::string wavs = model_dir + "/test_wavs/";
    const std::string second(32000, '\0');
    const std::string speech = LoadPcm(wavs + "hey_jarvis.wav") + second +
                               LoadPcm(wavs + "hey_computer.wav") + second +
                               LoadPcm(wavs + "negative_speech.wav") + second;
    const std::vector<std::string> buffers = Buffers(speech);
    constexpr int kRounds = 5;

    // 1. Cost per buffer.
    int direct_detections = 0;
    const double direct = DirectMsPerBuffer(spotter, buffers, kRounds, direct_detections);
    double loop = 0;
    int wakes = 0;
    {
        Listening listening(spotter);
        listening.Start();
        const auto start = Clock::now();
        for (int r = 0; r < kRounds; ++r) {
            for (const std::string& buffer : buffers) {
                listening.Feed(buffer);
            }
        }
        loop = Ms(Clock::now() - start) / (kRounds * static_cast<double>(buffers.size()));
        wakes = listening.wakes();
    }
    std::printf("cost per 100 ms buffer (%zu buffers x %d; detections: %d direct, %d loop)\n",
                buffers.size(), kRounds, direct_detections, wakes);
    std::printf("  engine fed directly   %8.3f ms\n", direct);
    std::printf("  through mainLoop      %8.3f ms\n", loop);
    std::printf("  ratio loop/direct     %8.2f\n", loop / direct);

    // 2. End of a spoken keyword to the wake callback, buffers handed over at real time.
    std::printf("keyword end to wake callback (buffers handed over each 100 ms)\n");
    for (const char* name :
         {"hey_jarvis.wav", "hey_computer.wav", "sentence_with_hey_jarvis.wav"}) {
        const std::string pcm = LoadPcm(wavs + name) + std::string(32000, '\0');
        const double end_s = SpeechEnd(pcm) / 16000.0;
        std::vector<double> latencies;
        for (int r = 0; r < 3; ++r) {
            Listening listening(spotter);
            listening.Start();
            fake::WaitQueued(kelmor::kCaptureBufferCount);
            const auto start = Clock::now();
            const auto chunks = Buffers(pcm);
            for (std::size_t k = 0; k < chunks.size() && listening.wakes() == 0; ++k) {
                std::this_thread::sleep_until(start + (k + 1) * 100ms);
                fake::Deliver(chunks[k]);
            }
            const auto deadline = Clock::now() + 2s;
            while (listening.wakes() == 0 && Clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
            if (listening.wakes() > 0) {
                const auto spoken_end = start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(end_s));
                latencies.push_back(Ms(listening.last_wake() - spoken_end));
            }
        }
        std::sort(latencies.begin(), latencies.end());
        if (latencies.empty()) {
            std::printf("  %-30s no detection\n", name);
        } else {
            std::printf("  %-30s min %6.0f ms  median %6.0f ms  max %6.0f ms  (%zu/3 detected)\n",
                        name, latencies.front(), latencies[latencies.size() / 2], latencies.back(),
                        latencies.size());
        }
    }

    // 3. A stop while listening: waiting for audio, and right after a buffer was handed over.
    std::printf("close_listen_voice while listening (20 stops each)\n");
    for (const bool busy : {false, true}) {
        std::vector<double> stops;
        for (int r = 0; r < 20; ++r) {
            Listening listening(spotter);
            listening.Start();
            fake::WaitQueued(kelmor::kCaptureBufferCount);
            std::this_thread::sleep_for(std::chrono::milliseconds(7 * r % 100));
            if (busy) {
                fake::Deliver(buffers[static_cast<std::size_t>(r) % buffers.size()]);
            }
            const auto start = Clock::now();
            listening.Stop();
            stops.push_back(Ms(Clock::now() - start));
        }
        std::sort(stops.begin(), stops.end());
        std::printf("  %-30s median %6.1f ms  max %6.1f ms\n",
                    busy ? "processing a buffer" : "waiting for audio", stops[stops.size() / 2],
                    stops.back());
    }

    SherpaOnnxDestroyKeywordSpotter(spotter);
    return 0;
}
