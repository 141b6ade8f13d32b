#include <ctime>

#include "fake_platform.h"

namespace fake {

ConsoleState& Console() {
    static ConsoleState state;
    return state;
}

}  // namespace fake

namespace platform {

StdOutput StandardOutputKind() {
    return fake::Console().std_output;
}

void WriteDebugOutput(const std::string& text) {
    fake::Console().debug_output.push_back(text);
}

void SetConsoleAttribute(std::uint16_t attribute) {
    fake::Console().console.push_back({fake::ConsoleEvent::Attribute, attribute, {}});
}

void WriteConsoleLine(const std::string& text) {
    fake::Console().console.push_back({fake::ConsoleEvent::Line, 0, text});
}

std::int64_t NowIn100nsSinceEpoch() {
    return fake::Console().now_100ns;
}

std::string FormatLocalTime(std::int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    const std::tm utc = *std::gmtime(&when);
    char text[16] = {};
    std::strftime(text, sizeof text, "%H:%M:%S", &utc);
    return text;
}

}  // namespace platform
