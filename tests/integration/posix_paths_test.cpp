// The model directory resolution on the real Linux path layer, in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/model_directory.h"
#include "log/logger.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> g_lines;
void Collect(std::int32_t, const char* line, void*) {
    g_lines.emplace_back(line);
}

class PosixPathsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelmor-paths-XXXXXX";
        root_ = mkdtemp(pattern);
        temp_ = root_ / "tmp";
        fs::create_directories(temp_);
        saved_tmpdir_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        setenv("TMPDIR", temp_.c_str(), 1);
        link_ = temp_ / "dova_km_sherpa";
        g_lines.clear();
        Logger::instance().set_callback(Collect, nullptr);
    }
    void TearDown() override {
        Logger::instance().set_callback(nullptr, nullptr);
        if (saved_tmpdir_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
        }
        fs::remove_all(root_);
    }

    fs::path MakeModelDir(const std::string& name) {
        const fs::path dir = root_ / name / "sherpa-onnx";
        fs::create_directories(dir);
        return dir;
    }

    fs::path root_, temp_, link_;
    std::string saved_tmpdir_;
};

TEST_F(PosixPathsTest, ExistingAsciiDirectoryIsItsOwnShortForm) {
    const fs::path dir = MakeModelDir("plain");
    EXPECT_EQ(ResolveSherpaRootPath(dir.string() + "//"), dir.string() + "/");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(PosixPathsTest, NonAsciiDirectoryIsReachedThroughALinkInTheTemporaryDirectory) {
    const fs::path dir = MakeModelDir("\xE6\x97\xA5\xE6\x9C\xAC");
    fs::create_directories(link_.parent_path());
    EXPECT_EQ(ResolveSherpaRootPath(dir.string()), link_.string() + "/");
    ASSERT_TRUE(fs::is_symlink(link_));
    EXPECT_EQ(fs::read_symlink(link_), dir);
    EXPECT_EQ(g_lines,
              (std::vector<std::string>{"[kelmor.dll] sherpa model dir aliased via junction: " +
                                        link_.string()}));
}

TEST_F(PosixPathsTest, OurStaleLinkIsReplaced) {
    const fs::path old_dir = MakeModelDir("old");
    fs::create_directory_symlink(old_dir, link_);
    const fs::path dir = MakeModelDir("caf\xC3\xA9");
    EXPECT_EQ(ResolveSherpaRootPath(dir.string()), link_.string() + "/");
    EXPECT_EQ(fs::read_symlink(link_), dir);
    // No temporary names are left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_), fs::directory_iterator()), 1);
}

TEST_F(PosixPathsTest, EntriesThatAreNotOurLinksAreLeftAlone) {
    struct Case {
        const char* name;
        void (*make)(const fs::path& link, const fs::path& elsewhere);
    };
    const Case cases[] = {
        {"a directory", [](const fs::path& link, const fs::path&) { fs::create_directory(link); }},
        {"a file", [](const fs::path& link, const fs::path&) { fclose(fopen(link.c_str(), "w")); }},
        {"another user's link",
         [](const fs::path& link, const fs::path& elsewhere) {
             fs::create_directory_symlink(elsewhere, link);
             ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0) << "needs root";
         }},
    };
    const fs::path dir = MakeModelDir("\xC3\xBC");
    const fs::path elsewhere = MakeModelDir("elsewhere");
    for (const Case& c : cases) {
        if (std::string(c.name) == "another user's link" && geteuid() != 0) {
            continue;  // only root can give a link away
        }
        fs::remove_all(link_);
        g_lines.clear();
        c.make(link_, elsewhere);
        const auto before = fs::symlink_status(link_).type();
        // The long path is used; Linux opens it as it is.
        EXPECT_EQ(ResolveSherpaRootPath(dir.string()), dir.string() + "/") << c.name;
        EXPECT_EQ(fs::symlink_status(link_).type(), before) << c.name;
        if (fs::is_symlink(link_)) {
            EXPECT_EQ(fs::read_symlink(link_), elsewhere) << c.name;
        }
        ASSERT_EQ(g_lines.size(), 2u) << c.name;
        EXPECT_EQ(g_lines[0].rfind("[kelmor.dll] MakeAsciiJunction failed, err=", 0), 0u);
        EXPECT_EQ(g_lines[1],
                  "[kelmor.dll] no ASCII path for sherpa models, falling back to ACP long path");
    }
}

TEST_F(PosixPathsTest, FullPathIsAbsoluteAndLexicallyNormalised) {
    const fs::path cwd = fs::current_path();
    fs::current_path(root_);
    struct Case {
        std::u16string input;
        std::string expected;
    };
    const Case cases[] = {
        {u"a/./b/../c", root_.string() + "/a/c"},
        {u"/x//y/../z/", "/x/z/"},
        {u"/..", "/"},
    };
    for (const Case& c : cases) {
        char16_t buffer[520] = {};
        const std::uint32_t n = platform::FullPathName(c.input.c_str(), buffer, 520);
        EXPECT_EQ(std::u16string(buffer, n), std::u16string(c.expected.begin(), c.expected.end()));
    }
    char16_t tiny[4] = {};
    EXPECT_EQ(platform::FullPathName(u"/abcdef", tiny, 4), 8u);  // the size needed
    fs::current_path(cwd);
}

}  // namespace
