// End to end: kelmor-listen loads the built library, which initialises itself from the
// sherpa-onnx folder beside it and listens to ALSA's default capture PCM, redirected by a private
// .asoundrc to synthesized speech: the `file` plugin (all at once) or a private PulseAudio pipe
// source fed at real time. Each keyword utterance must print one WAKE line, nothing else any.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "audio_env.h"

namespace {

const std::string kLibraryDir = KELMOR_LIBRARY_DIR;
const std::string kListen = KELMOR_LISTEN;

struct HostRun {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

int CountWakes(const std::string& out) {
    std::istringstream lines(out);
    std::string line;
    int wakes = 0;
    while (std::getline(lines, line)) {
        wakes += line.rfind("WAKE ", 0) == 0 ? 1 : 0;
    }
    return wakes;
}

class ListenHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::ifstream(kLibraryDir + "/sherpa-onnx/kelmor_config.bin").good()) {
            GTEST_SKIP() << "no deployed model beside the library (sherpa-onnx/ with the three "
                            "model files and kelmor_config.bin)";
        }
        for (const char* tool : {"espeak-ng", "sox"}) {
            if (!audio_env::Installed(tool)) {
                GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs it)";
            }
        }
        // PulseAudio's client threads are invisible to TSan (see audio_env.cpp).
        if (const char* tsan = std::getenv("TSAN_OPTIONS")) {
            const std::string supp = home.path() + "/tsan.supp";
            audio_env::WriteFile(supp,
                                 "called_from_lib:libpulse.so\ncalled_from_lib:libpulsecommon\n");
            setenv("TSAN_OPTIONS", (std::string(tsan) + " suppressions=" + supp).c_str(), 1);
        }
    }

    std::string Speak(const std::string& text) {
        std::string error;
        std::string pcm = audio_env::Speak(text, "en-us", home.path(), error);
        EXPECT_FALSE(pcm.empty()) << error;
        return pcm;
    }

    // Two keyword utterances among other speech, each followed by quiet.
    std::string Speech() {
        const std::string gap = audio_env::Silence(1.5);
        return audio_env::Silence(1) + Speak("hey computer") + gap +
               Speak("the weather is nice today") + gap + Speak("hey computer") + gap;
    }

    HostRun Listen(int seconds) {
        audio_env::UseAlsaConfig(home.path(), alsa_config);
        const std::string err = home.path() + "/listen.err";
        const std::string command = "'" + kListen + "' --seconds " + std::to_string(seconds) +
                                    " --log-level 1 2>'" + err + "'";
        HostRun run;
        FILE* out = popen(command.c_str(), "r");
        if (out == nullptr) {
            return run;
        }
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, out)) > 0) {
            run.out.append(buffer, n);
        }
        run.status = pclose(out);
        run.err = audio_env::ReadFile(err);
        return run;
    }

    audio_env::TempDir home;
    std::string alsa_config;
};

TEST_F(ListenHostTest, KeywordsInAFileWakeOnceEach) {
    const std::string file = home.path() + "/speech.raw";
    audio_env::WriteFile(file, Speech() + audio_env::Silence(2));
    alsa_config = audio_env::FileCaptureConfig(file);
    const HostRun run = Listen(5);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.err;
    EXPECT_EQ(CountWakes(run.out), 2) << run.out << run.err;
}

TEST_F(ListenHostTest, KeywordsSpokenAtRealTimeWakeOnceEach) {
    if (!audio_env::Installed("pulseaudio")) {
        GTEST_SKIP() << "pulseaudio is not installed (scripts/setup.sh installs it)";
    }
    audio_env::PulseServer server(home.path());
    ASSERT_TRUE(server.Start()) << server.error();
    alsa_config = audio_env::PulseConfig(server.socket());
    const std::string speech = Speech();
    audio_env::Feeder feeder(server.fifo(), speech);
    const HostRun run = Listen(static_cast<int>(speech.size() / 32000) + 3);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.err;
    EXPECT_EQ(CountWakes(run.out), 2) << run.out << run.err;
}

}  // namespace
