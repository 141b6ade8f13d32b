// Listening-loop figures with the real keyword engine (the library's fixed settings) and the
// shared model, audio handed over by the scripted capture device as fast as the loop consumes it:
//   1. CPU time per second of audio of the loop's worker thread, against the same audio fed to
//      the engine directly by a minimal program (as designed) and by one that also does the
//      loop's gate and flushes (same work);
//   2. resident memory after the spotter is made, while listening, and its growth over a long
//      run (at least 30 minutes of audio).
// Prints figures; never fails.
//
// usage: kelmor-listening-bench [--rounds N] [--memory-minutes M] [--model MODEL_DIR]
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/listening_loop.h"
#include "bench_util.h"
#include "engine/engine_object.h"
#include "fake_wave_input.h"
#include "log/logger.h"

namespace {

using bench::Stats;

void Quiet(std::int32_t, const char*, void*) {}

// The library's loop on its worker thread, fed through the scripted device.
class Listening {
  public:
    explicit Listening(const SherpaOnnxKeywordSpotter* spotter) : engine_("bench") {
        engine_.spotter = spotter;
        engine_.stream = SherpaOnnxCreateKeywordStream(spotter);
        engine_.set_wake_callback([this] { ++wakes_; });
        engine_.open_listen_voice();
        fake::WaitQueued(kelmor::kCaptureBufferCount);
    }
    ~Listening() {
        engine_.close_listen_voice();
        engine_.spotter = nullptr;  // the bench owns it
    }

    // Hands a buffer over and waits until the loop has re-queued it. The device's record of
    // calls is emptied each time, so that it does not count as the loop's memory.
    void Feed(const std::string& buffer) {
        fake::Deliver(buffer);
        fake::WaitQueued(kelmor::kCaptureBufferCount);
        fake::WithWave([](fake::WaveState& s) { s.calls.clear(); });
    }
    double WorkerCpuMs() { return bench::OtherThreadCpuMs(engine_.worker.native_handle()); }
    int wakes() const { return wakes_; }

  private:
    kelmor engine_;
    std::atomic<int> wakes_{0};
};

// The engine fed directly (same work) on a thread of its own, each buffer handed over and waited
// for as the scripted device does with the loop: what the hand-over between threads costs alone.
class HandedFeed {
  public:
    explicit HandedFeed(const SherpaOnnxKeywordSpotter* spotter)
        : feed_(spotter, bench::DirectFeed::Mode::SameWork), thread_([this] { Run(); }) {}
    ~HandedFeed() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Feed(const std::string& buffer) {
        std::unique_lock<std::mutex> lock(mutex_);
        buffer_ = &buffer;
        changed_.notify_all();
        changed_.wait(lock, [this] { return buffer_ == nullptr; });
    }
    double CpuMs() { return bench::OtherThreadCpuMs(thread_.native_handle()); }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || buffer_ != nullptr; });
            if (stop_) {
                return;
            }
            feed_.Feed(buffer_->data(), buffer_->size(), keywords_);
            buffer_ = nullptr;
            changed_.notify_all();
        }
    }

    bench::DirectFeed feed_;
    std::vector<std::string> keywords_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const std::string* buffer_ = nullptr;
    bool stop_ = false;
    std::thread thread_;
};

void PrintRow(const char* name, const Stats& s) {
    std::printf("  %-44s %7.2f  %7.2f  %7.2f\n", name, s.median, s.min, s.max);
}

}  // namespace

int main(int argc, char** argv) {
    std::string model_dir = KELMOR_MODEL_DIR;
    int rounds = 11;
    double memory_minutes = 35;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (flag == "--memory-minutes") {
            memory_minutes = std::atof(argv[i + 1]);
        } else if (flag == "--model") {
            model_dir = argv[i + 1];
        }
    }
    const bench::ModelFiles files(model_dir);
    if (!files.Present()) {
        std::printf("listening bench: no model in %s, skipped\n", model_dir.c_str());
        return 0;
    }
    Logger::instance().set_callback(Quiet, nullptr);
    fake::Wave().device_count = 1;

    const long rss_start = bench::RssKib();
    const SherpaOnnxKeywordSpotter* spotter =
        bench::MakeSpotter(files, bench::kFixedScore, bench::kFixedThreshold);
    if (spotter == nullptr) {
        std::printf("listening bench: the engine refused the model, skipped\n");
        return 0;
    }
    const long rss_spotter = bench::RssKib();

    // Keywords alone and in a sentence, other speech, noise and silence: the model's test audio.
    const std::string wavs = model_dir + "/test_wavs/";
    std::string mix;
    for (const char* name : {"hey_jarvis.wav", "negative_speech.wav", "hey_computer.wav",
                             "sentence_with_hey_jarvis.wav", "hello_world.wav",
                             "pink_noise_10s.wav", "negative_speech.wav", "silence_10s.wav"}) {
        mix += bench::LoadWavPcm(wavs + name) + bench::Silence(0.7);
    }
    const std::vector<std::string> buffers = bench::Buffers(bench::PadToBuffers(mix));
    const double audio_s = buffers.size() * 0.1;

    // 1. CPU per second of audio. All three ways run on one core (the worker inherits this thread's
    // affinity), so that the hand-over to the worker does not move the work to another core's
    // caches.
    int pinned = -1;
    {
        const int cpu = sched_getcpu();
        cpu_set_t set;
        CPU_ZERO(&set);
        if (cpu >= 0) {
            CPU_SET(cpu, &set);
            if (sched_setaffinity(0, sizeof set, &set) == 0) {
                pinned = cpu;
            }
        }
    }
    std::vector<double> loop_ms, minimal_ms, same_ms, ratio_same, ratio_minimal;
    std::vector<double> loop_wall, same_wall;  // ms per 100 ms buffer
    std::vector<double> handed_ms, ratio_handed;
    int loop_wakes = 0, minimal_hits = 0, same_hits = 0, same_flushes = 0;
    // The three ways take each buffer in turn (in a rotating order), so that whatever else the
    // machine does at that moment weighs on all three alike.
    for (int r = 0; r < rounds; ++r) {
        Listening listening(spotter);
        bench::DirectFeed same(spotter, bench::DirectFeed::Mode::SameWork);
        bench::DirectFeed minimal(spotter, bench::DirectFeed::Mode::Minimal);
        HandedFeed handed(spotter);
        std::vector<std::string> same_keywords, minimal_keywords;
        double ms[4] = {0, 0, 0, 0};
        double wall[4] = {0, 0, 0, 0};
        for (std::size_t k = 0; k < buffers.size(); ++k) {
            const std::string& buffer = buffers[k];
            for (std::size_t step = 0; step < 4; ++step) {
                const std::size_t way = (k + step) % 4;
                const double wall_start = bench::WallMs();
                if (way == 0) {
                    const double start = listening.WorkerCpuMs();
                    listening.Feed(buffer);
                    ms[0] += listening.WorkerCpuMs() - start;
                } else if (way == 3) {
                    const double start = handed.CpuMs();
                    handed.Feed(buffer);
                    ms[3] += handed.CpuMs() - start;
                } else {
                    const double start = bench::ThreadCpuMs();
                    if (way == 1) {
                        same.Feed(buffer.data(), buffer.size(), same_keywords);
                    } else {
                        minimal.Feed(buffer.data(), buffer.size(), minimal_keywords);
                    }
                    ms[way] += bench::ThreadCpuMs() - start;
                }
                wall[way] += bench::WallMs() - wall_start;
            }
        }
        loop_ms.push_back(ms[0] / audio_s);
        same_ms.push_back(ms[1] / audio_s);
        minimal_ms.push_back(ms[2] / audio_s);
        ratio_same.push_back(ms[0] / ms[1]);
        ratio_minimal.push_back(ms[0] / ms[2]);
        handed_ms.push_back(ms[3] / audio_s);
        ratio_handed.push_back(ms[0] / ms[3]);
        loop_wall.push_back(wall[0] / buffers.size());
        same_wall.push_back(wall[1] / buffers.size());
        loop_wakes = listening.wakes();
        same_hits = static_cast<int>(same_keywords.size());
        minimal_hits = static_cast<int>(minimal_keywords.size());
        same_flushes = same.flushes();
    }
    const Stats loop = bench::Summarise(loop_ms);
    const Stats minimal = bench::Summarise(minimal_ms);
    const Stats same = bench::Summarise(same_ms);
    std::printf(
        "CPU time per second of audio (%.0f s of audio x %d rounds, fed as fast as\n"
        "consumed; detections per round: loop %d, direct same work %d, direct minimal %d;\n"
        "flushes per round: %d; %s)\n",
        audio_s, rounds, loop_wakes, same_hits, minimal_hits, same_flushes,
        pinned >= 0 ? "all on one core" : "not pinned to a core");
    std::printf("  %-44s %7s  %7s  %7s\n", "ms CPU per s of audio", "median", "min", "max");
    PrintRow("library loop (worker thread)", loop);
    PrintRow("engine directly, same work (gate, flushes)", same);
    PrintRow("engine directly, minimal (reset on hit)", minimal);
    PrintRow("engine directly, same work, handed over", bench::Summarise(handed_ms));
    const Stats rs = bench::Summarise(ratio_same);
    const Stats rm = bench::Summarise(ratio_minimal);
    bench::Summary("cpu_loop_ms_per_s", loop.median);
    bench::Summary("cpu_loop_ms_per_s_min", loop.min);
    bench::Summary("cpu_loop_ms_per_s_max", loop.max);
    bench::Summary("cpu_same_ms_per_s", same.median);
    bench::Summary("cpu_minimal_ms_per_s", minimal.median);
    bench::Summary("cpu_ratio_same", rs.median);
    bench::Summary("cpu_ratio_same_min", rs.min);
    bench::Summary("cpu_ratio_same_max", rs.max);
    bench::Summary("cpu_ratio_minimal", rm.median);
    bench::Summary("cpu_ratio_minimal_min", rm.min);
    bench::Summary("cpu_ratio_minimal_max", rm.max);
    std::printf(
        "  ratio loop / direct same work, per round   median %.3f (%+.1f%%), min %.3f, "
        "max %.3f\n",
        rs.median, 100.0 * (rs.median - 1), rs.min, rs.max);
    std::printf(
        "  ratio loop / direct minimal, per round     median %.3f (%+.1f%%), min %.3f, "
        "max %.3f\n",
        rm.median, 100.0 * (rm.median - 1), rm.min, rm.max);
    const Stats rh = bench::Summarise(ratio_handed);
    bench::Summary("cpu_ratio_handed", rh.median);
    std::printf(
        "  ratio loop / same work handed over, per round  median %.3f (%+.1f%%), "
        "min %.3f, max %.3f\n",
        rh.median, 100.0 * (rh.median - 1), rh.min, rh.max);

    std::printf(
        "  wall time per 100 ms buffer, median: loop %.3f ms (hand-over between threads\n"
        "  included), engine directly, same work %.3f ms\n",
        bench::Summarise(loop_wall).median, bench::Summarise(same_wall).median);

    // The loop's own work per buffer besides the engine's decoding, alone: the WAV image of the
    // buffer and the engine's wave reader that turns it into samples.
    {
        const int reps = 20000;
        std::size_t samples = 0;
        const double start = bench::ThreadCpuMs();
        for (int i = 0; i < reps; ++i) {
            const std::string& buffer = buffers[static_cast<std::size_t>(i) % buffers.size()];
            std::uint32_t size = 0;
            char* image = build_wav_image(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                          1, 16000, 16, &size);
            const SherpaOnnxWave* wave =
                SherpaOnnxReadWaveFromBinaryData(image, static_cast<std::int32_t>(size));
            samples += wave != nullptr ? static_cast<std::size_t>(wave->num_samples) : 0;
            SherpaOnnxFreeWave(wave);
            std::free(image);
        }
        const double us = 1000.0 * (bench::ThreadCpuMs() - start) / reps;
        bench::Summary("wav_image_us_per_buffer", us);
        std::printf(
            "  WAV image and wave reader alone: %.1f us CPU per 100 ms buffer "
            "(%.2f ms per s of audio; %zu samples read)\n",
            us, us / 100.0, samples);
    }

    // 2. Memory over a long run.
    if (memory_minutes > 0) {
        const auto total = static_cast<std::size_t>(memory_minutes * 600);
        std::printf(
            "resident memory (VmRSS), %.0f min of audio fed as fast as consumed through\n"
            "the scripted device (the mix above, repeated)\n",
            memory_minutes);
        std::printf("  before the spotter             %8.1f MiB\n", rss_start / 1024.0);
        std::printf("  spotter made                   %8.1f MiB\n", rss_spotter / 1024.0);
        Listening listening(spotter);
        long after_first_minute = 0, peak = 0;
        const double cpu_start = listening.WorkerCpuMs();
        for (std::size_t k = 0; k < total; ++k) {
            listening.Feed(buffers[k % buffers.size()]);
            const long rss = bench::RssKib();
            peak = std::max(peak, rss);
            if (k + 1 == 600) {
                after_first_minute = rss;
                std::printf("  listening, after  1 min        %8.1f MiB\n", rss / 1024.0);
            } else if ((k + 1) % 6000 == 0) {
                std::printf("  listening, after %2zu min        %8.1f MiB\n", (k + 1) / 600,
                            rss / 1024.0);
            }
        }
        const long end = bench::RssKib();
        bench::Summary("memory_minutes", memory_minutes);
        bench::Summary("rss_listening_1min_mib", after_first_minute / 1024.0);
        bench::Summary("rss_growth_mib", (end - after_first_minute) / 1024.0);
        std::printf(
            "  growth from 1 min to %.0f min   %8.3f MiB (peak %.1f MiB; worker CPU %.1f s)\n",
            memory_minutes, (end - after_first_minute) / 1024.0, peak / 1024.0,
            (listening.WorkerCpuMs() - cpu_start) / 1000.0);
    }

    SherpaOnnxDestroyKeywordSpotter(spotter);
    return 0;
}
