// kelmor-pack as a user runs it, and what the library's loader makes of its output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_container.h"
#include "pack.h"

namespace {

namespace fs = std::filesystem;

const std::string kModelDir = KELMOR_MODEL_DIR;
const std::string kHey = "\xE2\x96\x81HE Y";

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class PackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kelmor-pack-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }

    ToolRun Pack(const std::vector<std::string>& args) const {
        const std::string out = Path("stdout.txt");
        const std::string err = Path("stderr.txt");
        const pid_t child = fork();
        if (child == 0) {
            const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out_fd, STDOUT_FILENO);
            dup2(err_fd, STDERR_FILENO);
            std::vector<char*> argv = {const_cast<char*>(KELMOR_PACK_PATH)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(KELMOR_PACK_PATH, argv.data());
            _exit(127);
        }
        int status = 0;
        ToolRun run;
        if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            run.exit_code = WEXITSTATUS(status);
        }
        run.out = ReadText(out);
        run.err = ReadText(err);
        return run;
    }

    ConfigPayload Load(const std::string& path) const {
        ConfigPayload payload;
        std::string reason;
        EXPECT_TRUE(LoadEncryptedConfig(path, &payload, &reason)) << reason;
        return payload;
    }

    void RequireModel() const {
        if (!fs::exists(kModelDir + "/tokens.txt")) {
            GTEST_SKIP() << "keyword model not found in " << kModelDir
                         << " (set KELMOR_MODEL_DIR when configuring)";
        }
    }

    fs::path dir_;
};

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(PackTest, PackThenCheckRoundTripsTheModelsTexts) {
    RequireModel();
    if (testing::Test::IsSkipped()) {
        return;
    }
    const std::string tokens = kModelDir + "/tokens.txt";
    const std::string keywords = kModelDir + "/keywords.txt";
    const std::string out = Path("kelmor_config.bin");
    const ToolRun pack = Pack({"pack", "--tokens", tokens, "--keywords", keywords, "--out", out});
    ASSERT_EQ(pack.exit_code, 0) << pack.err;
    EXPECT_EQ(pack.out, "tokens=500 keywords=3\n");
    EXPECT_EQ(fs::file_size(out),
              32 + PaddedLength(fs::file_size(tokens)) + PaddedLength(fs::file_size(keywords)));

    const ToolRun check = Pack({"check", out});
    EXPECT_EQ(check.exit_code, 0) << check.err;
    EXPECT_EQ(check.out, "tokens=500 keywords=3\n");

    const ConfigPayload payload = Load(out);
    EXPECT_EQ(Text(payload.tokens), ReadText(tokens));
    EXPECT_EQ(Text(payload.keywords), ReadText(keywords));
    // Only the container is left in the folder: the temporary file was renamed over it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kelmor_config.bin", "stderr.txt", "stdout.txt"}));
}

TEST_F(PackTest, PhrasesBecomeThePiecesOfTheModelsBpe) {
    RequireModel();
    if (testing::Test::IsSkipped()) {
        return;
    }
    const std::string phrases =
        Write("phrases.txt", "hey jarvis\nLight up @LU :2.0\n\r\nhello   world #0.1\n");
    const std::string out = Path("kelmor_config.bin");
    const ToolRun pack = Pack({"pack", "--tokens", kModelDir + "/tokens.txt", "--phrases", phrases,
                               "--bpe-model", kModelDir + "/bpe.model", "--out", out});
    ASSERT_EQ(pack.exit_code, 0) << pack.err;
    EXPECT_EQ(Text(Load(out).keywords),
              "\xE2\x96\x81HE Y \xE2\x96\x81JA R VI S @HEY_JARVIS\n"
              "\xE2\x96\x81 L IGHT \xE2\x96\x81UP @LU :2.0\n"
              "\n"
              "\xE2\x96\x81HE LL O \xE2\x96\x81WORLD #0.1 @HELLO_WORLD\n");
    EXPECT_EQ(Pack({"check", out}).exit_code, 0);

    // The model's own phrase list gives its keyword list.
    const std::string raw = Path("raw.bin");
    ASSERT_EQ(Pack({"pack", "--tokens", kModelDir + "/tokens.txt", "--phrases",
                    kModelDir + "/keywords_raw.txt", "--bpe-model", kModelDir + "/bpe.model",
                    "--out", raw})
                  .exit_code,
              0);
    EXPECT_EQ(Text(Load(raw).keywords), ReadText(kModelDir + "/keywords.txt"));

    const ToolRun split_name = Pack({"pack", "--tokens", kModelDir + "/tokens.txt", "--phrases",
                                     Write("split.txt", "hey jarvis\nhey @HEY jarvis\n"),
                                     "--bpe-model", kModelDir + "/bpe.model", "--out", out});
    EXPECT_EQ(split_name.exit_code, 1);
    EXPECT_EQ(split_name.err,
              "kelmor-pack: phrases line 2: \"jarvis\" after \"@HEY\" (options come last; a "
              "display name is one word)\n");
}

TEST_F(PackTest, EachPackHasItsOwnIv) {
    const std::string tokens = Write("tokens.txt", "a 1\nb 2\n");
    const std::string keywords = Write("keywords.txt", "a b\n");
    ASSERT_EQ(
        Pack({"pack", "--tokens", tokens, "--keywords", keywords, "--out", Path("1")}).exit_code,
        0);
    ASSERT_EQ(
        Pack({"pack", "--tokens", tokens, "--keywords", keywords, "--out", Path("2")}).exit_code,
        0);
    const std::string first = ReadText(Path("1"));
    const std::string second = ReadText(Path("2"));
    EXPECT_NE(first.substr(8, 16), second.substr(8, 16));
    EXPECT_EQ(Text(Load(Path("1")).keywords), Text(Load(Path("2")).keywords));
}

TEST_F(PackTest, RefusalsSayWhyAndLeaveTheOldContainer) {
    const std::string tokens = Write("tokens.txt", "a 1\nb 2\n");
    const std::string out = Write("kelmor_config.bin", "previous");
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        std::string err;  // what standard error starts with
    };
    const Row rows[] = {
        {"unknown piece",
         {"pack", "--tokens", tokens, "--keywords", Write("k1", "a\nc\n"), "--out", out},
         1,
         "kelmor-pack: keyword line 2: unknown token \"c\"\n"},
        {"malformed token table",
         {"pack", "--tokens", Write("t1", "a 1 2\n"), "--keywords", Write("k2", "a\n"), "--out",
          out},
         1,
         "kelmor-pack: malformed tokens line 1: a 1 2\n"},
        {"missing input",
         {"pack", "--tokens", Path("absent"), "--keywords", Write("k3", "a\n"), "--out", out},
         1,
         "kelmor-pack: failed to open file: " + Path("absent") + "\n"},
        {"bad BPE model",
         {"pack", "--tokens", tokens, "--phrases", Write("p1", "a\n"), "--bpe-model",
          Write("bpe", "not a model"), "--out", out},
         1,
         "kelmor-pack: failed to load BPE model " + Path("bpe")},
        {"no command", {}, 2, "kelmor-pack: missing command\n"},
        {"unknown command", {"unpack"}, 2, "kelmor-pack: unknown command 'unpack'\n"},
        {"no --out",
         {"pack", "--tokens", tokens, "--keywords", tokens},
         2,
         "kelmor-pack: pack: --tokens and --out are required\n"},
        {"both lists",
         {"pack", "--tokens", tokens, "--keywords", tokens, "--phrases", tokens, "--out", out},
         2,
         "kelmor-pack: pack: give either --keywords or --phrases\n"},
        {"phrases without model",
         {"pack", "--tokens", tokens, "--phrases", tokens, "--out", out},
         2,
         "kelmor-pack: pack: --bpe-model goes with --phrases\n"},
        {"option without value",
         {"pack", "--tokens"},
         2,
         "kelmor-pack: pack: --tokens needs a FILE\n"},
        {"unknown option",
         {"pack", "--token", tokens},
         2,
         "kelmor-pack: pack: unknown argument '--token'\n"},
        {"check without file", {"check"}, 2, "kelmor-pack: check: expects one FILE\n"},
        {"check with two files", {"check", out, out}, 2, "kelmor-pack: check: expects one FILE\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ToolRun run = Pack(row.args);
        EXPECT_EQ(run.exit_code, row.exit_code);
        EXPECT_EQ(run.err.substr(0, row.err.size()), row.err) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(ReadText(out), "previous");
    }
}

TEST_F(PackTest, CheckPrintsTheLibrarysReasonVerbatim) {
    std::vector<std::uint8_t> container;
    const std::uint8_t iv[16] = {};
    // Built without the pack checks: the keyword list names a piece the table lacks.
    ASSERT_TRUE(BuildContainer("a 1\n", "a\nzz\n", iv, &container, nullptr));
    const std::string bad_keywords = Path("bad_keywords.bin");
    std::ofstream(bad_keywords, std::ios::binary)
        .write(reinterpret_cast<const char*>(container.data()),
               static_cast<std::streamsize>(container.size()));
    const std::string truncated =
        Write("truncated.bin", std::string(container.begin(), container.end() - 1));
    const std::pair<std::string, std::string> rows[] = {
        {bad_keywords, "keyword line 2: unknown token \"zz\"\n"},
        {truncated, "config file size mismatch\n"},
        {Path("absent.bin"), "failed to open file: " + Path("absent.bin") + "\n"},
    };
    for (const auto& [path, reason] : rows) {
        const ToolRun run = Pack({"check", path});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.err, reason);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(PackTest, HelpOnEveryCommand) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"-h"},
                                               {"pack", "--help"},
                                               {"pack", "--tokens", "x", "-h"},
                                               {"check", "--help"}}) {
        const ToolRun run = Pack(args);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out.rfind("usage: kelmor-pack ", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

}  // namespace
