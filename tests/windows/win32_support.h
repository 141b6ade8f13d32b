// Support for the tests of the Windows platform layer, which run against the real system (under
// Wine on the build machine).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace win32_test {

std::wstring Wide(const std::u16string& text);
std::u16string U16(const std::wstring& text);
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
bool IsAscii(const std::string& text);

// The folder of the running test program, without a trailing separator.
std::wstring ProgramFolder();

// A fresh folder under the system's temporary directory, removed with its content on
// destruction.
class TempFolder {
  public:
    explicit TempFolder(const std::wstring& prefix = L"kelmor-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// Points TMP and TEMP of this process at a private folder while it lives, so that tests running
// side by side do not share the library's link location.
class PrivateTemp {
  public:
    PrivateTemp();
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;
    const std::wstring& path() const { return folder_.path(); }

  private:
    TempFolder folder_;
    std::wstring old_tmp_, old_temp_;
    bool had_tmp_ = false, had_temp_ = false;
};

// Makes standard output a pipe (not a console) while it lives, so that the library's lines go to
// the debugger output whatever runs the test.
class StdOutputAsPipe {
  public:
    StdOutputAsPipe();
    ~StdOutputAsPipe();
    StdOutputAsPipe(const StdOutputAsPipe&) = delete;
    StdOutputAsPipe& operator=(const StdOutputAsPipe&) = delete;

  private:
    HANDLE saved_ = nullptr;
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

// Collects the text this process sends to the debugger output while it lives.
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C for a debugger to see; a vectored exception
// handler sees it first, in-process, and lets it go on as if nothing had looked.
class DebugOutputCapture {
  public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
    std::vector<std::string> Texts() const;  // each write, as written

  private:
    void* handler_ = nullptr;
};

// Collects the lines the log sink hands to a host callback (the library's messages, without the
// "[kelmor.dll] " prefix).
class LogLines {
  public:
    LogLines();
    ~LogLines();
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;
    std::vector<std::string> Messages() const;

  private:
    static void Collect(std::int32_t level, const char* line, void* user_data);
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);

// Runs `command_line` with standard output and error captured; answers the exit code, or -1
// when it could not be started.
int RunProcess(const std::wstring& command_line, std::string* output);

}  // namespace win32_test
