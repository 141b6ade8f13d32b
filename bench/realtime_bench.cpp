// The library's listening path at real time: the library's own initialisation from the model laid
// out beside it, the Linux wave input on ALSA's `default` PCM, redirected to a private PulseAudio
// server whose source is a pipe that this program fills at real time (a microphone, in effect).
//   1. time from the end of a spoken keyword to the wake callback, over many utterances, against
//      the engine alone fed the same audio in 100 ms chunks;
//   2. time OpenListenVoice and CloseListenVoice take while listening;
//   3. resident memory after initialisation and while listening;
//   4. buffers lost (the capture thread found no queued buffer; ALSA overruns) with another
//      process keeping one core busy.
// Prints figures; never fails.
//
// usage: kelmor-realtime-bench [--cycles N] [--no-busy] [--model MODEL_DIR] [--library-dir DIR]
#include <alsa/asoundlib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio_env.h"
#include "bench_util.h"
#include "engine/engine_object.h"
#include "log/logger.h"
#include "wave_input_stats.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using bench::Stats;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Lines of the library's log that tell of trouble with the device.
std::mutex g_log_mutex;
int g_device_trouble = 0;
std::vector<std::string> g_trouble_lines;
void CountTrouble(std::int32_t level, const char* line, void*) {
    const std::string text = line;
    if (level >= static_cast<std::int32_t>(LogLevel::Warn) ||
        text.find("Device invalid") != std::string::npos) {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        ++g_device_trouble;
        if (g_trouble_lines.size() < 5) {
            g_trouble_lines.push_back(text);
        }
    }
}

struct Utterance {
    std::string label;
    std::size_t start = 0;        // first sample in the whole audio
    std::size_t keyword_end = 0;  // one past the last spoken sample, in the whole audio
};

// espeak-ng, then sox to 16 kHz mono s16le with its level set to -3 dBFS.
std::string Speak(const std::string& text, const std::string& voice, int speed,
                  const std::string& dir) {
    const std::string wav = dir + "/speak.wav";
    const std::string raw = dir + "/speak.raw";
    const std::string command = "espeak-ng -v '" + voice + "' -s " + std::to_string(speed) +
                                " -w '" + wav + "' '" + text + "' && sox -D '" + wav +
                                "' -r 16000 -c 1 -b 16 -e signed-integer -t raw '" + raw +
                                "' norm -3";
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    return bench::ReadAll(raw);
}

// One process that keeps a core busy until it is killed (and dies with this one).
pid_t StartBusyCore() {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        volatile unsigned long spin = 0;
        for (;;) {
            spin = spin + 1;
        }
    }
    return pid;
}

void StopBusyCore(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

// Writes `audio` into the FIFO at real time: the 100 ms chunk k is written when its last sample
// has been "spoken", at start + (k + 1) * 100 ms. Then silence until stopped.
class RealTimeWriter {
  public:
    RealTimeWriter(const std::string& fifo, const std::string& audio, Clock::time_point start)
        : thread_([this, fifo, audio, start] { Run(fifo, audio, start); }) {}
    ~RealTimeWriter() {
        stop_ = true;
        thread_.join();
    }
    bool done() const { return done_; }
    int late_writes() const { return late_; }

  private:
    void Run(const std::string& fifo, const std::string& audio, Clock::time_point start) {
        const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            done_ = true;
            return;
        }
        const std::string silence(bench::kBufferBytes, '\0');
        for (std::size_t k = 0; !stop_; ++k) {
            const auto due = start + (k + 1) * 100ms;
            std::this_thread::sleep_until(due);
            if (Clock::now() - due > 20ms) {
                ++late_;
            }
            const std::size_t at = k * bench::kBufferBytes;
            const char* data = at < audio.size() ? audio.data() + at : silence.data();
            std::size_t n = at < audio.size() ? std::min(bench::kBufferBytes, audio.size() - at)
                                              : bench::kBufferBytes;
            while (n > 0 && !stop_) {
                const ssize_t w = write(fd, data, n);
                if (w > 0) {
                    data += w;
                    n -= static_cast<std::size_t>(w);
                } else {
                    std::this_thread::sleep_for(2ms);
                }
            }
            if (at + bench::kBufferBytes >= audio.size()) {
                done_ = true;
            }
        }
        close(fd);
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> late_{0};
    std::thread thread_;
};

struct RunResult {
    std::vector<double> latency_ms;  // per utterance, library; -1 when not detected
    int detected = 0, extra_wakes = 0, starved = 0, trouble = 0, late_writes = 0;
    double worker_cpu_ms = 0;
    // The engine fed directly on a thread of its own, the same buffers at the same moments as the
    // writer hands them to PulseAudio (when a spotter is given): wall-clock latency and CPU.
    std::vector<double> direct_latency_ms;
    double direct_cpu_ms = 0;
};

// Latencies of the engine alone: the audio in 100 ms chunks, a detection known after the chunk
// that produced it has been decoded; the decode time of that chunk is added.
std::vector<double> EngineAlone(const SherpaOnnxKeywordSpotter* spotter, const std::string& audio,
                                const std::vector<Utterance>& utterances,
                                bench::DirectFeed::Mode mode) {
    std::vector<double> latencies(utterances.size(), -1);
    bench::DirectFeed feed(spotter, mode);
    const std::vector<std::string> buffers = bench::Buffers(audio);
    std::size_t u = 0;
    for (std::size_t k = 0; k < buffers.size(); ++k) {
        std::vector<std::string> keywords;
        const double start = bench::WallMs();
        feed.Feed(buffers[k].data(), buffers[k].size(), keywords);
        const double spent = bench::WallMs() - start;
        const std::size_t end_sample = (k + 1) * bench::kBufferSamples;
        while (u + 1 < utterances.size() && utterances[u + 1].start < end_sample) {
            ++u;
        }
        if (!keywords.empty() && latencies[u] < 0) {
            latencies[u] =
                (static_cast<double>(end_sample) - static_cast<double>(utterances[u].keyword_end)) /
                    16.0 +
                spent;
        }
    }
    return latencies;
}

// The engine alone at real time: buffer k is fed at start + (k + 1) * 100 ms, when the writer
// hands the same bytes to PulseAudio.
void DirectAtRealTime(const SherpaOnnxKeywordSpotter* spotter, const std::string& audio,
                      const std::vector<Utterance>& utterances, Clock::time_point start,
                      RunResult* result) {
    result->direct_latency_ms.assign(utterances.size(), -1);
    bench::DirectFeed feed(spotter, bench::DirectFeed::Mode::SameWork);
    const std::vector<std::string> buffers = bench::Buffers(audio);
    const double cpu_start = bench::ThreadCpuMs();
    std::size_t u = 0;
    for (std::size_t k = 0; k < buffers.size(); ++k) {
        std::this_thread::sleep_until(start + (k + 1) * 100ms);
        std::vector<std::string> keywords;
        feed.Feed(buffers[k].data(), buffers[k].size(), keywords);
        const std::size_t end_sample = (k + 1) * bench::kBufferSamples;
        while (u + 1 < utterances.size() && utterances[u + 1].start < end_sample) {
            ++u;
        }
        if (!keywords.empty() && result->direct_latency_ms[u] < 0) {
            const double at = std::chrono::duration<double>(Clock::now() - start).count() * 16000;
            result->direct_latency_ms[u] =
                (at - static_cast<double>(utterances[u].keyword_end)) / 16.0;
        }
    }
    result->direct_cpu_ms = bench::ThreadCpuMs() - cpu_start;
}

RunResult ListenAtRealTime(kelmor& engine, const audio_env::PulseServer& server,
                           const std::string& audio, const std::vector<Utterance>& utterances,
                           const SherpaOnnxKeywordSpotter* direct_spotter) {
    RunResult result;
    result.latency_ms.assign(utterances.size(), -1);
    std::mutex mutex;
    std::vector<Clock::time_point> wakes;
    engine.set_wake_callback([&] {
        std::lock_guard<std::mutex> lock(mutex);
        wakes.push_back(Clock::now());
    });
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        g_device_trouble = 0;
    }
    const std::uint64_t starved_before = platform::WaveInStarvedCount();
    engine.open_listen_voice();
    const double cpu_before = bench::OtherThreadCpuMs(engine.worker.native_handle());
    const auto start = Clock::now() + 200ms;
    {
        std::thread direct;
        if (direct_spotter != nullptr) {
            direct = std::thread(DirectAtRealTime, direct_spotter, std::cref(audio),
                                 std::cref(utterances), start, &result);
        }
        RealTimeWriter writer(server.fifo(), audio, start);
        while (!writer.done()) {
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(1500ms);
        if (direct.joinable()) {
            direct.join();
        }
        result.late_writes = writer.late_writes();
        result.worker_cpu_ms = bench::OtherThreadCpuMs(engine.worker.native_handle()) - cpu_before;
        engine.close_listen_voice();
    }
    result.starved = static_cast<int>(platform::WaveInStarvedCount() - starved_before);
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        result.trouble = g_device_trouble;
    }
    std::vector<bool> seen(utterances.size(), false);
    for (const Clock::time_point wake : wakes) {
        const double at = std::chrono::duration<double>(wake - start).count() * 16000;
        std::size_t u = 0;
        while (u + 1 < utterances.size() && static_cast<double>(utterances[u + 1].start) <= at) {
            ++u;
        }
        if (seen[u]) {
            ++result.extra_wakes;
            continue;
        }
        seen[u] = true;
        ++result.detected;
        result.latency_ms[u] = (at - static_cast<double>(utterances[u].keyword_end)) / 16.0;
    }
    engine.set_wake_callback(nullptr);
    return result;
}

// The detected ones of per-utterance latencies (-1: not detected).
std::vector<double> Detected(const std::vector<double>& latencies) {
    std::vector<double> out;
    for (double l : latencies) {
        if (l >= 0) {
            out.push_back(l);
        }
    }
    return out;
}

// a - b over the utterances both detected.
std::vector<double> Paired(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> out;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] >= 0 && b[i] >= 0) {
            out.push_back(a[i] - b[i]);
        }
    }
    return out;
}

void PrintLatency(const char* name, const std::vector<double>& latencies) {
    const Stats s = bench::Summarise(Detected(latencies));
    std::printf("  %-40s %7.0f %7.0f %7.0f %7.0f %7.0f  %3zu/%zu\n", name, s.median, s.p10, s.p90,
                s.min, s.max, s.n, latencies.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::string model_dir = KELMOR_MODEL_DIR;
    std::string library_dir = KELMOR_LIBRARY_DIR;
    int cycles = 100;
    bool busy = true;
    bool latency = true;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--no-busy") {
            busy = false;
        } else if (flag == "--no-latency") {
            latency = false;
        } else if (i + 1 < argc && flag == "--cycles") {
            cycles = std::max(1, std::atoi(argv[++i]));
        } else if (i + 1 < argc && flag == "--model") {
            model_dir = argv[++i];
        } else if (i + 1 < argc && flag == "--library-dir") {
            library_dir = argv[++i];
        }
    }
    const bench::ModelFiles files(model_dir);
    if (!files.Present() || !bench::Exists(library_dir + "/sherpa-onnx/kelmor_config.bin")) {
        std::printf("realtime bench: no model in %s or none laid out in %s, skipped\n",
                    model_dir.c_str(), library_dir.c_str());
        return 0;
    }
    for (const char* tool : {"pulseaudio", "espeak-ng", "sox"}) {
        if (!audio_env::Installed(tool)) {
            std::printf("realtime bench: %s is not installed (scripts/setup.sh), skipped\n", tool);
            return 0;
        }
    }
    audio_env::TempDir dir;

    // The utterances: each keyword alone, several voices and speeds, 2.5 s of silence after each.
    struct Phrase {
        const char* text;
        const char* name;
    };
    const Phrase phrases[] = {{"hey jarvis", "HEY_JARVIS"},
                              {"hello world", "HELLO_WORLD"},
                              {"hey computer", "HEY_COMPUTER"}};
    const char* voices[] = {"en-us", "en-us+m3", "en-us+f2", "en", "en-us+f4", "en-gb-x-rp"};
    std::string audio = bench::Silence(1.0);
    std::vector<Utterance> utterances;
    for (const int speed : {130, 160, 190}) {
        for (const char* voice : voices) {
            for (const Phrase& phrase : phrases) {
                const std::string speech = Speak(phrase.text, voice, speed, dir.path());
                if (speech.empty()) {
                    continue;
                }
                Utterance u;
                u.label = std::string(phrase.name) + " " + voice + " " + std::to_string(speed);
                u.start = audio.size() / 2;
                u.keyword_end = u.start + bench::SpeechEnd(speech);
                audio += speech + bench::Silence(2.5);
                utterances.push_back(u);
            }
        }
    }
    audio = bench::PadToBuffers(audio);
    if (utterances.empty()) {
        std::printf("realtime bench: espeak-ng made no speech, skipped\n");
        return 0;
    }

    // The library: its own initialisation from the model laid out beside it.
    audio_env::PulseServer server(dir.path());
    if (!server.Start()) {
        std::printf("realtime bench: %s, skipped\n", server.error().c_str());
        return 0;
    }
    audio_env::UseAlsaConfig(dir.path(), audio_env::PulseConfig(server.socket()));
    snd_config_update_free_global();
    Logger::instance().set_callback(CountTrouble, nullptr);
    const long rss_before = bench::RssKib();
    const double init_start = bench::WallMs();
    kelmor engine(library_dir);
    if (!engine.init()) {
        std::printf("realtime bench: the library's init failed, skipped\n");
        return 0;
    }
    const double init_ms = bench::WallMs() - init_start;
    const long rss_init = bench::RssKib();

    // Resident memory while listening, before this program makes spotters of its own: 20 s of
    // the speech at real time.
    long rss_listening = 0;
    {
        engine.open_listen_voice();
        RealTimeWriter writer(server.fifo(), audio.substr(0, 20 * 32000), Clock::now());
        while (!writer.done()) {
            std::this_thread::sleep_for(50ms);
        }
        rss_listening = bench::RssKib();
        engine.close_listen_voice();
    }

    // The engine alone on the same audio.
    const SherpaOnnxKeywordSpotter* spotter =
        bench::MakeSpotter(files, bench::kFixedScore, bench::kFixedThreshold);
    if (spotter == nullptr) {
        std::printf("realtime bench: the engine refused the model, skipped\n");
        return 0;
    }
    const std::vector<double> engine_minimal =
        EngineAlone(spotter, audio, utterances, bench::DirectFeed::Mode::Minimal);
    const std::vector<double> engine_same =
        EngineAlone(spotter, audio, utterances, bench::DirectFeed::Mode::SameWork);

    const double audio_s = static_cast<double>(audio.size()) / 32000;
    RunResult idle, loaded;
    if (latency) {
        std::printf("keyword end to wake callback, %zu utterances (%.0f s of audio at real time)\n",
                    utterances.size(), audio_s);
        idle = ListenAtRealTime(engine, server, audio, utterances, spotter);
        if (busy) {
            const pid_t spinner = StartBusyCore();
            loaded = ListenAtRealTime(engine, server, audio, utterances, nullptr);
            StopBusyCore(spinner);
        }
        std::printf("  %-40s %7s %7s %7s %7s %7s  %s\n", "ms", "median", "p10", "p90", "min", "max",
                    "detected");
        PrintLatency("engine alone, minimal (reset on hit)", engine_minimal);
        PrintLatency("engine alone, same work (gate, flushes)", engine_same);
        PrintLatency("engine alone at real time, same work", idle.direct_latency_ms);
        PrintLatency("library, real-time ALSA capture", idle.latency_ms);
        if (busy) {
            PrintLatency("library, one core kept busy", loaded.latency_ms);
        }
        const Stats vs_same = bench::Summarise(Paired(idle.latency_ms, engine_same));
        const Stats vs_minimal = bench::Summarise(Paired(idle.latency_ms, engine_minimal));
        const Stats vs_direct = bench::Summarise(Paired(idle.latency_ms, idle.direct_latency_ms));
        std::printf(
            "  library minus engine alone at real time, same utterance: median %.0f ms "
            "(p90 %.0f, max %.0f, n %zu)\n",
            vs_direct.median, vs_direct.p90, vs_direct.max, vs_direct.n);
        bench::Summary("latency_engine_realtime_ms",
                       bench::Summarise(Detected(idle.direct_latency_ms)).median);
        bench::Summary("latency_paired_realtime_ms", vs_direct.median);
        bench::Summary("latency_paired_realtime_p90_ms", vs_direct.p90);
        std::printf(
            "  library minus engine alone, same utterance: median %.0f ms (p90 %.0f, n %zu)"
            " against same work; median %.0f ms (p90 %.0f, n %zu) against minimal\n",
            vs_same.median, vs_same.p90, vs_same.n, vs_minimal.median, vs_minimal.p90,
            vs_minimal.n);
        bench::Summary("latency_engine_same_ms", bench::Summarise(Detected(engine_same)).median);
        bench::Summary("latency_engine_minimal_ms",
                       bench::Summarise(Detected(engine_minimal)).median);
        bench::Summary("latency_library_ms", bench::Summarise(Detected(idle.latency_ms)).median);
        bench::Summary("latency_library_p90_ms", bench::Summarise(Detected(idle.latency_ms)).p90);
        bench::Summary("latency_paired_same_ms", vs_same.median);
        bench::Summary("latency_paired_minimal_ms", vs_minimal.median);
        bench::Summary("latency_detected", static_cast<double>(idle.detected));
        bench::Summary("latency_utterances", static_cast<double>(utterances.size()));
        if (busy) {
            bench::Summary("latency_library_busy_ms",
                           bench::Summarise(Detected(loaded.latency_ms)).median);
        }
        std::printf("  extra wakes (a second wake within one utterance): %d", idle.extra_wakes);
        if (busy) {
            std::printf(", with a busy core %d", loaded.extra_wakes);
        }
        std::printf(
            "\n  CPU at real time: library worker %.2f ms per s of audio, engine alone "
            "(same work, own thread) %.2f ms per s\n",
            idle.worker_cpu_ms / (audio_s + 1.5), idle.direct_cpu_ms / audio_s);
        bench::Summary("cpu_realtime_loop_ms_per_s", idle.worker_cpu_ms / (audio_s + 1.5));
        bench::Summary("cpu_realtime_direct_ms_per_s", idle.direct_cpu_ms / audio_s);

        bench::Summary("lost_audio_s", audio_s);
        bench::Summary("starved_idle", idle.starved);
        bench::Summary("device_errors_idle", idle.trouble);
        if (busy) {
            bench::Summary("starved_busy", loaded.starved);
            bench::Summary("device_errors_busy", loaded.trouble);
        }
        std::printf("lost buffers (%.0f s of audio each)\n", audio_s);
        std::printf(
            "  %-34s capture thread found no queued buffer %d times; device errors %d;"
            " late writes %d\n",
            "idle machine", idle.starved, idle.trouble, idle.late_writes);
        if (busy) {
            std::printf(
                "  %-34s capture thread found no queued buffer %d times; device errors %d;"
                " late writes %d\n",
                "one core kept busy", loaded.starved, loaded.trouble, loaded.late_writes);
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        for (const std::string& line : g_trouble_lines) {
            std::printf("    %s\n", line.c_str());
        }
    }

    // Open and close while the source keeps delivering audio (the same speech, looping).
    std::vector<double> opens, closes, joins, device_closes;
    {
        RealTimeWriter writer(server.fifo(), audio + audio + audio, Clock::now());
        std::mt19937 random(7);
        std::uniform_int_distribution<int> pause(50, 600);
        for (int c = 0; c < cycles; ++c) {
            auto start = Clock::now();
            engine.open_listen_voice();
            opens.push_back(Ms(Clock::now() - start));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            // CloseListenVoice, in its two parts: the worker's stop (stop_worker), then the
            // device's close, which close_listen_voice does after a stop_worker that now finds
            // nothing to join.
            start = Clock::now();
            engine.stop_worker();
            const auto joined = Clock::now();
            engine.close_listen_voice();
            const auto end = Clock::now();
            closes.push_back(Ms(end - start));
            joins.push_back(Ms(joined - start));
            device_closes.push_back(Ms(end - joined));
        }
    }
    const Stats open_s = bench::Summarise(opens);
    const Stats close_s = bench::Summarise(closes);
    std::printf(
        "OpenListenVoice and CloseListenVoice while listening (%d cycles, 50-600 ms apart)\n",
        cycles);
    std::printf("  %-34s %7s %7s %7s %7s\n", "ms", "median", "p90", "p99", "max");
    std::printf("  %-34s %7.1f %7.1f %7.1f %7.1f\n", "OpenListenVoice", open_s.median, open_s.p90,
                open_s.p99, open_s.max);
    std::printf("  %-34s %7.1f %7.1f %7.1f %7.1f\n", "CloseListenVoice", close_s.median,
                close_s.p90, close_s.p99, close_s.max);
    bench::Summary("open_median_ms", open_s.median);
    bench::Summary("open_p99_ms", open_s.p99);
    bench::Summary("close_median_ms", close_s.median);
    bench::Summary("close_p99_ms", close_s.p99);
    bench::Summary("close_max_ms", close_s.max);
    bench::Summary("close_cycles", cycles);
    const Stats join_s = bench::Summarise(joins);
    const Stats device_s = bench::Summarise(device_closes);
    std::printf("  %-34s %7.1f %7.1f %7.1f %7.1f\n", "  of which: worker stopped", join_s.median,
                join_s.p90, join_s.p99, join_s.max);
    std::printf("  %-34s %7.1f %7.1f %7.1f %7.1f\n", "  of which: device closed", device_s.median,
                device_s.p90, device_s.p99, device_s.max);

    std::printf("library initialisation and resident memory (this process)\n");
    std::printf("  init (spotter from the laid-out model)   %7.1f ms\n", init_ms);
    std::printf("  resident before init / after init        %7.1f / %.1f MiB\n",
                rss_before / 1024.0, rss_init / 1024.0);
    bench::Summary("init_ms", init_ms);
    bench::Summary("rss_real_listening_mib", rss_listening / 1024.0);
    bench::Summary("rss_real_listening_added_mib", (rss_listening - rss_init) / 1024.0);
    std::printf("  resident while listening (20 s of speech) %6.1f MiB\n", rss_listening / 1024.0);
    SherpaOnnxDestroyKeywordSpotter(spotter);
    Logger::instance().set_callback(nullptr, nullptr);
    return 0;
}
