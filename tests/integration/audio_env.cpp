#include "audio_env.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

// PulseAudio's client libraries are not built for TSan; their threads hand memory to each other
// in code it cannot see, which it would report as races in them.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libpulse.so\ncalled_from_lib:libpulsecommon\n";
}

namespace audio_env {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kelmor-audio-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void UseAlsaConfig(const std::string& home, const std::string& config) {
    WriteFile(home + "/.asoundrc", config);
    setenv("HOME", home.c_str(), 1);
}

std::string FileCaptureConfig(const std::string& file) {
    return "pcm.!default { type file; slave.pcm \"null\"; file \"/dev/null\"; infile \"" + file +
           "\"; format \"raw\" }\n";
}

std::string PulseConfig(const std::string& socket) {
    return "pcm.!default { type pulse; server \"unix:" + socket + "\" }\n" +
           "ctl.!default { type pulse; server \"unix:" + socket + "\" }\n";
}

std::string NoiseBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

bool Installed(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

std::string Speak(const std::string& text, const std::string& voice, const std::string& dir,
                  std::string& error) {
    const std::string wav = dir + "/speech.wav";
    const std::string raw = dir + "/speech.raw";
    if (!Run("espeak-ng -v " + Quote(voice) + " -w " + Quote(wav) + " " + Quote(text))) {
        error = "espeak-ng failed for: " + text;
        return {};
    }
    if (!Run("sox -D " + Quote(wav) + " -r 16000 -c 1 -b 16 -e signed-integer -t raw " +
             Quote(raw))) {
        error = "sox failed for: " + text;
        return {};
    }
    return ReadFile(raw);
}

std::string PinkNoise(double seconds, const std::string& dir) {
    const std::string raw = dir + "/noise.raw";
    if (!Run("sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw " + Quote(raw) + " synth " +
             std::to_string(seconds) + " pinknoise vol 0.3")) {
        return {};
    }
    return ReadFile(raw);
}

std::string Silence(double seconds) {
    return std::string(static_cast<std::size_t>(seconds * 16000) * 2, '\0');
}

PulseServer::PulseServer(const std::string& dir) : dir_(dir) {}

PulseServer::~PulseServer() {
    Stop();
}

bool PulseServer::Start() {
    const std::string runtime = dir_ + "/pulse";
    fs::create_directories(runtime);
    const std::string script = dir_ + "/server.pa";
    WriteFile(script, "load-module module-pipe-source source_name=kelmor_test file=" + fifo() +
                          " format=s16le rate=16000 channels=1\n"
                          "set-default-source kelmor_test\n"
                          "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                          socket() + "\n");

    std::vector<std::string> env_text = {"HOME=" + dir_, "PULSE_RUNTIME_PATH=" + runtime,
                                         "PATH=" + std::string(std::getenv("PATH"))};
    std::vector<char*> env;
    for (std::string& entry : env_text) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);
    std::vector<std::string> arg_text = {"pulseaudio",
                                         "-n",
                                         "-F",
                                         script,
                                         "--daemonize=no",
                                         "--exit-idle-time=-1",
                                         "--use-pid-file=no",
                                         "--log-target=file:" + dir_ + "/pulse.log"};
    std::vector<char*> args;
    for (std::string& arg : arg_text) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);

    const std::string log = dir_ + "/pulse.log";
    const pid_t pid = fork();
    if (pid < 0) {
        error_ = "cannot fork: " + std::string(strerror(errno));
        return false;
    }
    if (pid == 0) {
        // The server must not outlive the test (a killed test would leave it running, holding
        // the test runner's output pipes), nor write to those pipes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in < 0 || out < 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execvpe("pulseaudio", args.data(), env.data());
        _exit(127);
    }
    pid_ = pid;
    for (int i = 0; i < 100; ++i) {
        if (access(socket().c_str(), F_OK) == 0 && access(fifo().c_str(), F_OK) == 0) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "pulseaudio exited: " + ReadFile(dir_ + "/pulse.log");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "pulseaudio did not create its socket: " + ReadFile(dir_ + "/pulse.log");
    Stop();
    return false;
}

void PulseServer::Stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    std::error_code ignored;
    fs::remove(socket(), ignored);
    fs::remove(fifo(), ignored);
}

Feeder::Feeder(const std::string& fifo, std::string audio)
    : thread_(&Feeder::Run, this, fifo, std::move(audio)) {}

Feeder::~Feeder() {
    Stop();
}

void Feeder::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Feeder::Run(std::string fifo, std::string audio) {
    // Read-write so that the open never waits for a reader.
    const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return;
    }
    constexpr std::size_t kChunk = 3200;
    const std::string silence(kChunk, '\0');
    auto next = std::chrono::steady_clock::now();
    std::size_t offset = 0;
    while (!stop_) {
        const std::string& chunk = offset < audio.size() ? audio : silence;
        const std::size_t from = offset < audio.size() ? offset : 0;
        const std::size_t n = std::min(kChunk, chunk.size() - from);
        std::size_t written = 0;
        while (written < n && !stop_) {
            const ssize_t w = write(fd, chunk.data() + from + written, n - written);
            if (w > 0) {
                written += static_cast<std::size_t>(w);
            } else if (w < 0 && errno != EAGAIN) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        if (offset < audio.size()) {
            offset += n;
            if (offset >= audio.size()) {
                done_at_ = std::chrono::steady_clock::now();
                done_ = true;
            }
        }
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    close(fd);
}

}  // namespace audio_env
