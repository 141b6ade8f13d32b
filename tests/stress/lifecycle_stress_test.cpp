// Lifecycle stress with the real library, the real engine and real capture: many open/close
// cycles while audio flows, and repeated load/unload of the library in one host process. Run
// under ASan, leaks of ours show at exit.
//
// KELMOR_STRESS_CYCLES (default 200) and KELMOR_STRESS_LOADS (default 20) set the counts.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio_env.h"
#include "kelmor.h"
#include "measure.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kLibraryDir = KELMOR_LIBRARY_DIR;

long EnvOr(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

std::mutex g_mutex;
std::vector<std::string> g_lines;
void Collect(std::int32_t, const char* line, void*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.emplace_back(line);
}

long CountLines(const std::string& message) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::count(g_lines.begin(), g_lines.end(), "[kelmor.dll] " + message);
}

bool AnyLineStartsWith(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::any_of(g_lines.begin(), g_lines.end(), [&](const std::string& line) {
        return line.rfind("[kelmor.dll] " + prefix, 0) == 0;
    });
}

struct Library {
    void* handle = nullptr;
    void (*open)() = nullptr;
    void (*close)() = nullptr;
    void (*reg)(WakeCallback) = nullptr;
    void (*set_log_callback)(LogCallback, void*) = nullptr;
    void (*uninit)() = nullptr;

    bool Load() {
        handle = dlopen((kLibraryDir + "/libkelmor.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return false;
        }
        open = reinterpret_cast<void (*)()>(dlsym(handle, "OpenListenVoice"));
        close = reinterpret_cast<void (*)()>(dlsym(handle, "CloseListenVoice"));
        reg = reinterpret_cast<void (*)(WakeCallback)>(dlsym(handle, "RegOnKelmor"));
        set_log_callback =
            reinterpret_cast<void (*)(LogCallback, void*)>(dlsym(handle, "SetKelmorLogCallback"));
        uninit = reinterpret_cast<void (*)()>(dlsym(handle, "UninitKelmor"));
        return open && close && reg && set_log_callback && uninit;
    }
    void Unload() {
        dlclose(handle);
        handle = nullptr;
    }
};

// One capture set-up for the whole suite: ALSA reads its configuration once per process.
class LifecycleStress : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::ifstream(kLibraryDir + "/sherpa-onnx/kelmor_config.bin").good()) {
            skip_reason = "no deployed model beside the library";
            return;
        }
        for (const char* tool : {"espeak-ng", "sox"}) {
            if (!audio_env::Installed(tool)) {
                skip_reason =
                    std::string(tool) + " is not installed (scripts/setup.sh installs it)";
                return;
            }
        }
        home = new audio_env::TempDir();
        std::string error;
        const std::string speech = audio_env::Speak("hey computer", "en-us", home->path(), error);
        if (speech.empty()) {
            skip_reason = "no speech: " + error;
            return;
        }
        std::string audio;
        for (int i = 0; i < 20; ++i) {
            audio += speech + audio_env::Silence(1.0);
        }
        const std::string file = home->path() + "/speech.raw";
        audio_env::WriteFile(file, audio + audio_env::Silence(2.0));
        audio_env::UseAlsaConfig(home->path(), audio_env::FileCaptureConfig(file));
        // The engine does not give back all of its memory when unloaded; keep it mapped so that
        // the leak checker speaks of ours only. Our library is still loaded and unloaded.
        dlopen((kLibraryDir + "/libsherpa-onnx-c-api.so").c_str(), RTLD_NOW | RTLD_NODELETE);
    }
    static void TearDownTestSuite() {
        delete home;
        home = nullptr;
    }
    void SetUp() override {
        if (!skip_reason.empty()) {
            GTEST_SKIP() << skip_reason;
        }
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lines.clear();
    }

    static inline audio_env::TempDir* home = nullptr;
    static inline std::string skip_reason;
};

TEST_F(LifecycleStress, OpenCloseCyclesWhileAudioFlows) {
    const long cycles = EnvOr("KELMOR_STRESS_CYCLES", 200);
    Library library;
    ASSERT_TRUE(library.Load()) << dlerror();
    library.set_log_callback(Collect, nullptr);
    std::atomic<long> wakes{0};
    library.reg([&wakes] { ++wakes; });

    std::chrono::nanoseconds slowest_close{0};
    for (long i = 0; i < cycles; ++i) {
        library.open();
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * (i % 8)));
        const auto before = Clock::now();
        library.close();
        slowest_close = std::max(slowest_close, Clock::now() - before);
    }
    library.uninit();
    library.set_log_callback(nullptr, nullptr);
    library.Unload();

    EXPECT_EQ(CountLines("Start listening for kelmor keywords"), cycles);
    EXPECT_EQ(CountLines("mainLoop thread started"), cycles);
    EXPECT_EQ(CountLines("mainLoop thread stopped"), cycles);
    EXPECT_FALSE(AnyLineStartsWith("mainLoop exception"));
    EXPECT_FALSE(AnyLineStartsWith("open_listen_voice: failed"));
    EXPECT_GT(wakes.load(), 0) << "no keyword was heard: did audio flow?";
    EXPECT_LT(slowest_close, std::chrono::seconds(1));
    std::printf("stress: %ld open/close cycles, %ld wakes, slowest close %.1f ms\n", cycles,
                wakes.load(), std::chrono::duration<double, std::milli>(slowest_close).count());
}

TEST_F(LifecycleStress, RepeatedLoadAndUnloadInOneProcess) {
    const long loads = EnvOr("KELMOR_STRESS_LOADS", 20);
    long resident_after_first = 0;
    for (long i = 0; i < loads; ++i) {
        Library library;
        ASSERT_TRUE(library.Load()) << dlerror();
        library.set_log_callback(Collect, nullptr);
        library.reg([] {});
        library.open();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        library.close();
        library.uninit();
        library.set_log_callback(nullptr, nullptr);
        library.Unload();
        if (i == 0) {
            resident_after_first = measure::ResidentKib();
        }
    }
    // Each load initialised an engine (its lines precede the callback): each uninit found one.
    EXPECT_EQ(CountLines("kelmor uninit success"), loads);
    EXPECT_EQ(CountLines("Start listening for kelmor keywords"), loads);
    const long growth = measure::ResidentKib() - resident_after_first;
    std::printf("stress: %ld loads, resident growth after the first %.1f MiB\n", loads,
                growth / 1024.0);
}

}  // namespace
