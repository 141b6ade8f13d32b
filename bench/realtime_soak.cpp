// A long listening run at real time through the real path: a private PulseAudio server's pipe
// source, ALSA, kelmor-listen, the library and the model. Keyword utterances are spread over
// the run between non-keyword speech, noise and silence; the run reports how many were heard,
// any wake that matches no utterance, and kelmor-listen's resident memory over time.
//
// Usage: kelmor-realtime-soak [MINUTES]   (default 60)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio_env.h"
#include "measure.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBytesPerSecond = 32000.0;

// The PCM bytes of a 16 kHz mono 16-bit WAV file.
std::string WavData(const std::string& path) {
    const std::string file = audio_env::ReadFile(path);
    size_t at = 12;
    while (at + 8 <= file.size()) {
        std::uint32_t size;
        std::memcpy(&size, file.data() + at + 4, 4);
        if (file.compare(at, 4, "data") == 0) {
            return file.substr(at + 8, size);
        }
        at += 8 + size + (size & 1);
    }
    return std::string();
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    const std::string wavs = std::string(KELMOR_MODEL_DIR) + "/test_wavs/";
    const std::string keywords[] = {WavData(wavs + "hey_computer.wav"),
                                    WavData(wavs + "hey_jarvis.wav"),
                                    WavData(wavs + "hello_world.wav")};
    const std::string negative = WavData(wavs + "negative_speech.wav");
    const std::string noise = WavData(wavs + "pink_noise_10s.wav");
    for (const std::string* part : {&keywords[0], &keywords[1], &keywords[2], &negative, &noise}) {
        if (part->empty()) {
            std::fprintf(stderr, "kelmor-realtime-soak: test wavs not found in %s\n", wavs.c_str());
            return 1;
        }
    }

    // One minute: three utterances, other speech, noise and silence in between.
    std::string audio = audio_env::Silence(3.0);
    std::vector<double> utterance_starts;  // seconds from the start of the audio
    std::vector<double> utterance_ends;
    for (int minute = 0; minute < minutes; ++minute) {
        const size_t block_start = audio.size();
        for (int k = 0; k < 3; ++k) {
            utterance_starts.push_back(audio.size() / kBytesPerSecond);
            audio += keywords[k];
            utterance_ends.push_back(audio.size() / kBytesPerSecond);
            audio += audio_env::Silence(6.0);
            audio += k == 1 ? noise : negative;
            audio += audio_env::Silence(4.0);
        }
        const double used = (audio.size() - block_start) / kBytesPerSecond;
        if (used < 60.0) {
            audio += audio_env::Silence(60.0 - used);
        }
    }

    audio_env::TempDir home;
    audio_env::PulseServer server(home.path());
    if (!server.Start()) {
        std::fprintf(stderr, "kelmor-realtime-soak: %s\n", server.error().c_str());
        return 1;
    }
    audio_env::UseAlsaConfig(home.path(), audio_env::PulseConfig(server.socket()));

    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        return 1;
    }
    const std::string log_path = home.path() + "/listen.log";
    const double total_seconds = audio.size() / kBytesPerSecond;
    const std::string seconds = std::to_string(static_cast<int>(total_seconds) + 5);
    audio_env::Feeder feeder(server.fifo(), audio);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out_pipe[1], 1);
        FILE* log = std::fopen(log_path.c_str(), "w");
        dup2(fileno(log), 2);
        close(out_pipe[0]);
        execl(KELMOR_LISTEN, KELMOR_LISTEN, "--seconds", seconds.c_str(), "--log-level", "1",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out_pipe[1]);

    // Memory once a minute, read in a thread while the output is collected.
    std::vector<long> resident;
    std::thread sampler([&] {
        for (int i = 0; i <= minutes; ++i) {
            const auto at = start + std::chrono::seconds(30 + 60 * i);
            while (Clock::now() < at) {
                if (waitpid(child, nullptr, WNOHANG) != 0) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            resident.push_back(measure::ResidentKib(child));
        }
    });
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(child, &status, 0);
    sampler.join();
    feeder.Stop();

    // Each wake is matched to the utterance it falls in or ends at most 3 s after. (The recordings
    // end in half a second of silence, so a wake may come before the recording's end.)
    std::vector<double> wakes;
    std::istringstream lines(out);
    std::string word;
    long count;
    double at;
    while (lines >> word >> count >> at) {
        if (word == "WAKE") {
            wakes.push_back(at);
        }
    }
    if (std::getenv("KELMOR_SOAK_TRACE") != nullptr) {
        for (double wake : wakes) {
            std::printf("wake %.2f\n", wake);
        }
        for (double end : utterance_ends) {
            std::printf("utterance end %.2f\n", end);
        }
    }
    std::vector<int> heard(utterance_ends.size(), 0);
    int unmatched = 0;
    std::vector<double> delays;
    for (double wake : wakes) {
        const auto it = std::upper_bound(utterance_starts.begin(), utterance_starts.end(), wake);
        const size_t index = static_cast<size_t>(it - utterance_starts.begin());
        if (index == 0 || wake > utterance_ends[index - 1] + 3.0) {
            ++unmatched;
            continue;
        }
        ++heard[index - 1];
        delays.push_back(wake - utterance_ends[index - 1]);
    }
    const long detected = std::count_if(heard.begin(), heard.end(), [](int h) { return h > 0; });
    const long repeated = std::count_if(heard.begin(), heard.end(), [](int h) { return h > 1; });
    std::sort(delays.begin(), delays.end());
    std::printf("real-time soak: %.1f minutes of audio, %zu keyword utterances\n",
                total_seconds / 60.0, utterance_ends.size());
    std::printf("  heard %ld, missed %zu, heard twice %ld, wakes matching no utterance %d\n",
                detected, utterance_ends.size() - static_cast<size_t>(detected), repeated,
                unmatched);
    if (!delays.empty()) {
        std::printf(
            "  wake relative to the recording's end (which has 0.5 s of trailing "
            "silence): median %+.2f s\n",
            delays[delays.size() / 2]);
    }
    if (!resident.empty()) {
        std::printf(
            "  kelmor-listen resident: %.1f MiB after 30 s, %.1f MiB at the end, max %.1f "
            "MiB\n",
            resident.front() / 1024.0, resident.back() / 1024.0,
            *std::max_element(resident.begin(), resident.end()) / 1024.0);
    }
    std::printf("  kelmor-listen exit status %d\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
