// Windows: the console when standard output is one, else the debugger output.
#include "platform/console.h"

#include <chrono>
#include <ctime>
#include <iostream>

#include "windows_headers.h"

namespace platform {

StdOutput StandardOutputKind() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return StdOutput::Missing;
    }
    DWORD mode = 0;
    return GetConsoleMode(out, &mode) ? StdOutput::Console : StdOutput::NotConsole;
}

void WriteDebugOutput(const std::string& text) {
    OutputDebugStringA(text.c_str());
}

void SetConsoleAttribute(std::uint16_t attribute) {
    std::cout.flush();
    SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
}

void WriteConsoleLine(const std::string& text) {
    std::cout << text << std::endl;
}

std::int64_t NowIn100nsSinceEpoch() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
}

std::string FormatLocalTime(std::int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_s(&local, &when);
    char text[16] = {};
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace platform
