// The console's text attributes. Run by ctest with standard output on a terminal, which Wine
// makes a console of.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/console.h"
#include "win32_support.h"

namespace {

class SavedStdOutput {
  public:
    SavedStdOutput() : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {}
    ~SavedStdOutput() { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }
    SavedStdOutput(const SavedStdOutput&) = delete;
    SavedStdOutput& operator=(const SavedStdOutput&) = delete;

  private:
    HANDLE saved_;
};

// Standard output is the console when the test runs on one (ctest runs it so on a terminal, with
// KELMOR_EXPECT_CONSOLE set); else the test makes one, where the system can.
TEST(Win32ConsoleTest, AConsoleTakesTheLevelsTextAttribute) {
    const SavedStdOutput saved;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    bool made = false;
    if (GetConsoleScreenBufferInfo(console, &info) == 0) {
        FreeConsole();
        AllocConsole();
        console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        made = true;
        if (console == INVALID_HANDLE_VALUE || GetConsoleScreenBufferInfo(console, &info) == 0) {
            FreeConsole();
            ASSERT_EQ(std::getenv("KELMOR_EXPECT_CONSOLE"), nullptr) << "not run on a console";
            GTEST_SKIP() << "no console with a screen buffer here";
        }
        SetStdHandle(STD_OUTPUT_HANDLE, console);
    }
    EXPECT_EQ(platform::StandardOutputKind(), platform::StdOutput::Console);
    for (const std::uint16_t attribute : {8, 10, 14, 12, 7}) {
        platform::SetConsoleAttribute(attribute);
        ASSERT_NE(GetConsoleScreenBufferInfo(console, &info), 0);
        EXPECT_EQ(info.wAttributes, attribute);
    }
    if (made) {
        CloseHandle(console);
        FreeConsole();
    }
}

}  // namespace
