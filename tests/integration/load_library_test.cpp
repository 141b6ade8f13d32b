// Loads the built library into this host process, as a host would, and drives the exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kelmor.h"

namespace {

// Sends standard output and standard error to files while in scope, so that the library's
// load-time lines can be read back (standard output is then not a terminal, so they go to
// standard error).
class CapturedOutput {
  public:
    CapturedOutput() {
        fflush(stdout);
        fflush(stderr);
        for (int fd : {1, 2}) {
            char name[] = "/tmp/kelmor-load-XXXXXX";
            const int file = mkstemp(name);
            unlink(name);
            saved_[fd - 1] = dup(fd);
            dup2(file, fd);
            files_[fd - 1] = file;
        }
    }
    ~CapturedOutput() { Restore(); }

    void Restore() {
        if (saved_[0] < 0) {
            return;
        }
        fflush(stdout);
        fflush(stderr);
        for (int fd : {1, 2}) {
            dup2(saved_[fd - 1], fd);
            close(saved_[fd - 1]);
            saved_[fd - 1] = -1;
        }
    }

    std::string Read(int fd) const {
        std::string text;
        char buffer[4096];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(files_[fd - 1], buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
            offset += n;
        }
        return text;
    }

  private:
    int saved_[2] = {-1, -1};
    int files_[2] = {-1, -1};
};

struct Exports {
    void (*open)();
    void (*close)();
    void (*reg)(WakeCallback);
    void (*set_log_callback)(LogCallback, void*);
    void (*set_log_level)(std::int32_t);
    void (*uninit)();
};

template <typename Fn>
Fn Find(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

std::string LibraryDirectory() {
    const std::string path = KELMOR_LIBRARY_PATH;
    return path.substr(0, path.find_last_of('/'));
}

// The engine library leaks a few static allocations each time it is unloaded, which the leak
// checker would blame on whoever unloads it. Keep it mapped for the whole process; our own library
// is still loaded and unloaded by each test.
class KeepEngineLoaded : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string engine = LibraryDirectory() + "/libsherpa-onnx-c-api.so";
        ASSERT_NE(dlopen(engine.c_str(), RTLD_NOW | RTLD_NODELETE), nullptr) << dlerror();
    }
};
const auto* const g_keep_engine = ::testing::AddGlobalTestEnvironment(new KeepEngineLoaded);

std::vector<std::string> g_lines;
void Collect(std::int32_t level, const char* line, void*) {
    g_lines.push_back(std::to_string(level) + " " + line);
}

TEST(LoadLibrary, LoadTimeLinesGoToStandardErrorThenEveryLineToTheHostCallback) {
    if (access((LibraryDirectory() + "/sherpa-onnx/kelmor_config.bin").c_str(), F_OK) != 0) {
        GTEST_SKIP() << "no model laid out beside the library: it cannot initialise";
    }
    CapturedOutput output;
    void* library = dlopen(KELMOR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    output.Restore();
    ASSERT_NE(library, nullptr) << dlerror();

    const std::string stderr_text = output.Read(2);
    const std::string dir = LibraryDirectory();
    EXPECT_NE(stderr_text.find("[kelmor.dll] modulePath = " + dir + "\n"), std::string::npos)
        << stderr_text;
    EXPECT_NE(stderr_text.find("[kelmor.dll] kelmor constructor, modelPath: " + dir + "\n"),
              std::string::npos)
        << stderr_text;
    EXPECT_LT(stderr_text.find("modulePath = "), stderr_text.find("kelmor constructor"));
    EXPECT_EQ(output.Read(1), "");

    Exports api{Find<void (*)()>(library, "OpenListenVoice"),
                Find<void (*)()>(library, "CloseListenVoice"),
                Find<void (*)(WakeCallback)>(library, "RegOnKelmor"),
                Find<void (*)(LogCallback, void*)>(library, "SetKelmorLogCallback"),
                Find<void (*)(std::int32_t)>(library, "SetKelmorLogLevel"),
                Find<void (*)()>(library, "UninitKelmor")};
    ASSERT_TRUE(api.open && api.close && api.reg && api.set_log_callback && api.set_log_level &&
                api.uninit);

    api.set_log_callback(Collect, nullptr);
    api.reg([] {});
    api.set_log_level(1);
    api.close();
    api.uninit();
    api.uninit();
    api.open();
    api.set_log_level(0);
    api.set_log_callback(nullptr, nullptr);

    EXPECT_EQ(g_lines, (std::vector<std::string>{
                           "0 [kelmor.dll] Log callback set",
                           "0 [kelmor.dll] Kelmor handler registered",
                           "1 [kelmor.dll] Stop listening for kelmor",
                           "1 [kelmor.dll] Stop listening for kelmor",
                           "1 [kelmor.dll] kelmor resources released",
                           "1 [kelmor.dll] kelmor uninit success",
                           "3 [kelmor.dll] OpenListenVoice failed: kelmor not initialized",
                           "0 [kelmor.dll] Log level set to 0",
                       }));
    EXPECT_EQ(dlclose(library), 0);
}

TEST(LoadLibrary, UnloadReleasesAStillHeldEngine) {
    CapturedOutput output;
    void* library = dlopen(KELMOR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    Find<void (*)(std::int32_t)>(library, "SetKelmorLogLevel")(1);
    dlclose(library);
    output.Restore();
    const std::string stderr_text = output.Read(2);
    EXPECT_NE(stderr_text.find("[kelmor.dll] kelmor resources released\n"), std::string::npos)
        << stderr_text;
}

}  // namespace
