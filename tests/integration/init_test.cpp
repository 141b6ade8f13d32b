// The built library loaded by a host process beside a laid-out model folder, with the real engine
// and the real model. Each load runs in a child process: a bad model must end in a failed
// initialisation with the host process alive, and a fresh process gives a fresh library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/model_files.h"
#include "kelmor.h"
#include "pack.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBuiltLibrary = KELMOR_LIBRARY_PATH;
const fs::path kLaidOutModel = kBuiltLibrary.parent_path() / model_files::kFolder;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder holding the library, the engine beside it and a sherpa-onnx/ folder, made of hard
// links to the build's files (one file system), so that it is cheap and has its own path.
class Deployment {
  public:
    explicit Deployment(const std::string& name) {
        dir_ = fs::path(KELMOR_TEST_WORK_DIR) / "deployments" / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_ / model_files::kFolder);
        for (const char* file : {"libkelmor.so", "libsherpa-onnx-c-api.so", "libonnxruntime.so"}) {
            fs::create_hard_link(kBuiltLibrary.parent_path() / file, dir_ / file);
        }
        for (const auto& entry : fs::directory_iterator(kLaidOutModel)) {
            fs::create_hard_link(entry.path(), Model() / entry.path().filename());
        }
    }
    ~Deployment() { fs::remove_all(dir_); }

    fs::path Library() const { return dir_ / "libkelmor.so"; }
    fs::path Model() const { return dir_ / model_files::kFolder; }
    fs::path Dir() const { return dir_; }

    void Replace(const char* file, const std::string& content) const {
        fs::remove(Model() / file);
        std::ofstream(Model() / file, std::ios::binary) << content;
    }
    // A container of texts the library will refuse (kelmor-pack would not write it).
    void ReplaceContainer(const std::string& tokens, const std::string& keywords) const {
        const std::uint8_t iv[16] = {};
        std::vector<std::uint8_t> container;
        std::string reason;
        ASSERT_TRUE(BuildContainer(tokens, keywords, iv, &container, &reason)) << reason;
        fs::remove(Model() / model_files::kConfig);
        ASSERT_TRUE(
            WriteFileAtomically((Model() / model_files::kConfig).string(), container, &reason))
            << reason;
    }

  private:
    fs::path dir_;
};

struct HostRun {
    int exit_status = -1;
    std::string output;  // the library's lines (standard error; standard output is not a tty)
};

// Loads the library in a child process, listens for nothing, unloads it and exits.
HostRun LoadInChild(const fs::path& library) {
    const fs::path output = fs::path(KELMOR_TEST_WORK_DIR) / ("host-" + std::to_string(getpid()));
    const pid_t child = fork();
    if (child == 0) {
        FILE* out = std::fopen(output.c_str(), "w");
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "dlopen failed: %s\n", dlerror());
            _exit(3);
        }
        dlclose(handle);
        std::fflush(nullptr);
        _exit(0);
    }
    HostRun run;
    int status = 0;
    waitpid(child, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.output = ReadFile(output);
    fs::remove(output);
    return run;
}

// The library's own lines, without the "[kelmor.dll] " tag; the engine's lines are left out.
std::vector<std::string> LibraryLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    const std::string tag = "[kelmor.dll] ";
    while (std::getline(in, line)) {
        if (line.rfind(tag, 0) == 0) {
            lines.push_back(line.substr(tag.size()));
        }
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class InitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kLaidOutModel / model_files::kConfig)) {
            GTEST_SKIP() << "no model laid out beside the library (the keyword model folder was "
                            "not found at configure time)";
        }
    }
};

TEST_F(InitTest, LoadBesideAModelInitialisesTheSpotter) {
    Deployment deployment("good");
    const HostRun run = LoadInChild(deployment.Library());
    ASSERT_EQ(run.exit_status, 0) << run.output;
    const auto lines = LibraryLines(run.output);
    const std::string dir = deployment.Dir().string();
    ASSERT_GE(lines.size(), 6u) << run.output;
    EXPECT_EQ(lines[0], "modulePath = " + dir);
    EXPECT_EQ(lines[1], "kelmor constructor, modelPath: " + dir);
    EXPECT_EQ(lines[2], "sherpa_root_path (short): " + deployment.Model().string() + "/");
    EXPECT_EQ(
        lines[3],
        "config loaded, tokens=" + std::to_string(fs::file_size(KELMOR_MODEL_DIR "/tokens.txt")) +
            ", keywords=" + std::to_string(fs::file_size(KELMOR_MODEL_DIR "/keywords.txt")));
    EXPECT_EQ(lines[4], "kelmor init success");
    // Unloading releases the engine the host left behind.
    EXPECT_EQ(lines.back(), "kelmor resources released");
}

TEST_F(InitTest, BadModelFoldersEndInAFailedInitAndTheHostLivesOn) {
    struct Case {
        const char* name;
        void (*spoil)(const Deployment&);
        std::string error_prefix;
    };
    const Case cases[] = {
        {"missing container",
         [](const Deployment& d) { fs::remove(d.Model() / model_files::kConfig); },
         "LoadEncryptedConfig failed: failed to open file: "},
        {"token table the engine cannot parse",
         [](const Deployment& d) { d.ReplaceContainer("<blk> 0 7\n", "x\n"); },
         "tokens validation failed, abort init to avoid sherpa exit(): malformed tokens line 1"},
        {"keyword with a piece not in the table",
         [](const Deployment& d) {
             d.ReplaceContainer(ReadFile(KELMOR_MODEL_DIR "/tokens.txt"),
                                "\xE2\x96\x81HE Y @OK\nHEY JARVIS @BAD\n");
         },
         "keywords validation failed, abort init to avoid sherpa exit(): "},
        {"corrupt encoder",
         [](const Deployment& d) { d.Replace(model_files::kEncoder, "not an onnx model"); },
         "kelmor_obj->init() exception: "},
        {"missing decoder",
         [](const Deployment& d) { fs::remove(d.Model() / model_files::kDecoder); },
         "SherpaOnnxCreateKeywordSpotter failed, please check your config!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Deployment deployment(std::string("bad-") + std::to_string(&c - cases));
        c.spoil(deployment);
        const HostRun run = LoadInChild(deployment.Library());
        EXPECT_EQ(run.exit_status, 0) << run.output;
        const auto lines = LibraryLines(run.output);
        bool found = false;
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            if (StartsWith(lines[i], c.error_prefix)) {
                found = true;
                EXPECT_EQ(lines[i + 1], "kelmor_obj->init() fail");
            }
        }
        EXPECT_TRUE(found) << run.output;
        EXPECT_EQ(run.output.find("kelmor init success"), std::string::npos);
    }
}

TEST_F(InitTest, NonAsciiFolderIsReachedThroughALink) {
    Deployment deployment("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    // A private ASCII temporary directory, so that the link does not touch the machine's one.
    const fs::path temp = fs::path(KELMOR_TEST_WORK_DIR) / "deployments" / "tmp";
    fs::create_directories(temp);
    const char* saved = std::getenv("TMPDIR");
    const std::string saved_tmpdir = saved != nullptr ? saved : "";
    setenv("TMPDIR", temp.c_str(), 1);
    const HostRun run = LoadInChild(deployment.Library());
    saved_tmpdir.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved_tmpdir.c_str(), 1);

    ASSERT_EQ(run.exit_status, 0) << run.output;
    const auto lines = LibraryLines(run.output);
    const std::string link = (temp / "dova_km_sherpa").string();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "sherpa model dir aliased via junction: " + link),
        lines.end())
        << run.output;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "sherpa_root_path (short): " + link + "/"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "kelmor init success"), lines.end());
    EXPECT_EQ(fs::read_symlink(link), deployment.Model());
    fs::remove_all(temp);
}

}  // namespace
