// Where log lines go when the host has no log callback: the console (standard output when it is
// an interactive console or terminal) or else the debug output.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class StdOutput {
    Missing,     // no standard output handle
    NotConsole,  // a file, a pipe or anything else that is not a console
    Console,
};

StdOutput StandardOutputKind();

// Writes `text` (which carries its own line end) to the debug output. Failures are ignored.
void WriteDebugOutput(const std::string& text);

// Sets the console's text attribute (Windows console colour bits: 7 is the default grey).
void SetConsoleAttribute(std::uint16_t attribute);

// Writes `text` and an end of line to standard output and flushes it.
void WriteConsoleLine(const std::string& text);

// Current time in 100-nanosecond units since 1970-01-01 UTC.
std::int64_t NowIn100nsSinceEpoch();

// `seconds` since 1970-01-01 UTC as local time, formatted "%H:%M:%S".
std::string FormatLocalTime(std::int64_t seconds);

}  // namespace platform
