// Test surroundings for real capture: a private home folder whose .asoundrc redirects ALSA's
// `default` PCM, and a private PulseAudio server with a pipe source fed at real time.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace audio_env {

// A fresh folder under the system's temporary directory, removed with its content on
// destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Points HOME at `home` and writes `home`/.asoundrc with `config`. Call before this process's
// first ALSA call, or call ReloadAlsa afterwards (tests that link ALSA).
void UseAlsaConfig(const std::string& home, const std::string& config);

// The ALSA configuration that makes `default` capture read `file` (raw bytes, then zeros).
std::string FileCaptureConfig(const std::string& file);
// The ALSA configuration that makes `default` a client of the PulseAudio server at `socket`.
std::string PulseConfig(const std::string& socket);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// 16 kHz mono s16le speech of `text` by espeak-ng (voice `voice`), resampled by sox; `dir`
// holds the intermediate files. Empty, with the reason in `error`, when a tool failed.
std::string Speak(const std::string& text, const std::string& voice, const std::string& dir,
                  std::string& error);
// `seconds` of pink noise (sox) in the same format; empty on failure.
std::string PinkNoise(double seconds, const std::string& dir);
std::string Silence(double seconds);
// True when `tool` is found on PATH.
bool Installed(const std::string& tool);

// Deterministic pseudo-random bytes.
std::string NoiseBytes(std::size_t count, unsigned seed);

// A private PulseAudio server whose default source is a pipe (16 kHz mono s16le) in `dir`.
class PulseServer {
  public:
    explicit PulseServer(const std::string& dir);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False, with the reason in error(), when the server did not come up.
    bool Start();
    void Stop();
    const std::string& error() const { return error_; }
    std::string socket() const { return dir_ + "/pulse/native"; }
    std::string fifo() const { return dir_ + "/pulse/source.fifo"; }

  private:
    std::string dir_;
    std::string error_;
    int pid_ = -1;
};

// Writes audio into a FIFO at real time (3200 bytes each 100 ms), from a thread, then silence
// until stopped.
class Feeder {
  public:
    Feeder(const std::string& fifo, std::string audio);
    ~Feeder();
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

    void Stop();
    // When the audio (not the silence after it) has been written in full.
    bool Done() const { return done_; }
    std::chrono::steady_clock::time_point done_at() const { return done_at_; }

  private:
    void Run(std::string fifo, std::string audio);

    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::chrono::steady_clock::time_point done_at_{};
    std::thread thread_;
};

}  // namespace audio_env
