// Linux: the console is standard output when it is a terminal, coloured with ANSI sequences;
// the debug output is standard error.
#include "platform/console.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <iostream>

namespace platform {

StdOutput StandardOutputKind() {
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        return StdOutput::Missing;
    }
    return isatty(STDOUT_FILENO) ? StdOutput::Console : StdOutput::NotConsole;
}

void WriteDebugOutput(const std::string& text) {
    // One write call, so that lines from several threads do not interleave mid-line.
    const ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

void SetConsoleAttribute(std::uint16_t attribute) {
    const char* sequence = "\033[0m";
    switch (attribute) {
        case 8:
            sequence = "\033[90m";
            break;
        case 10:
            sequence = "\033[92m";
            break;
        case 12:
            sequence = "\033[91m";
            break;
        case 14:
            sequence = "\033[93m";
            break;
        default:
            break;
    }
    std::cout << sequence << std::flush;
}

void WriteConsoleLine(const std::string& text) {
    std::cout << text << std::endl;
}

std::int64_t NowIn100nsSinceEpoch() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
}

std::string FormatLocalTime(std::int64_t seconds) {
    const time_t when = static_cast<time_t>(seconds);
    struct tm local {};
    localtime_r(&when, &local);
    char text[16] = {};
    strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace platform
