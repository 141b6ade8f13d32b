// The log sink's destinations on Windows: the console only when standard output is one, else the
// debugger output.
#include <gtest/gtest.h>

#include "log/logger.h"
#include "platform/console.h"
#include "win32_support.h"

namespace {

using win32_test::DebugOutputCapture;

class SavedStdOutput {
  public:
    SavedStdOutput() : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {}
    ~SavedStdOutput() { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }
    SavedStdOutput(const SavedStdOutput&) = delete;
    SavedStdOutput& operator=(const SavedStdOutput&) = delete;

  private:
    HANDLE saved_;
};

TEST(Win32ConsoleTest, OnlyAConsoleIsAConsole) {
    const SavedStdOutput saved;
    const win32_test::TempFolder folder;
    HANDLE file = CreateFileW((folder.path() + L"\\out.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_NE(CreatePipe(&read, &write, nullptr, 0), 0);

    const struct {
        const char* name;
        HANDLE handle;
        platform::StdOutput kind;
    } cases[] = {
        {"file", file, platform::StdOutput::NotConsole},
        {"pipe", write, platform::StdOutput::NotConsole},
        {"null handle", nullptr, platform::StdOutput::Missing},
        {"invalid handle", INVALID_HANDLE_VALUE, platform::StdOutput::Missing},
    };
    for (const auto& c : cases) {
        SetStdHandle(STD_OUTPUT_HANDLE, c.handle);
        EXPECT_EQ(platform::StandardOutputKind(), c.kind) << c.name;
    }
    CloseHandle(file);
    CloseHandle(read);
    CloseHandle(write);
}

// Without a host callback and without a console, a line reaches the debugger output as UTF-8
// with a line end, and nothing converts it to the ANSI code page.
TEST(Win32ConsoleTest, WithoutAConsoleLinesGoToTheDebuggerOutputAsUtf8) {
    const win32_test::StdOutputAsPipe pipe;
    const DebugOutputCapture capture;
    Log(LogLevel::Warn, "Modell \xC3\xBC \xE6\xA8\xA1\xE5\x9E\x8B");
    platform::WriteDebugOutput("");
    const std::vector<std::string> texts = capture.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "[kelmor.dll] Modell \xC3\xBC \xE6\xA8\xA1\xE5\x9E\x8B\n");
    EXPECT_EQ(texts[1], "");
}

}  // namespace
