// Control of the fake platform layer that unit tests link in place of the real one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

namespace fake {

// Console and debug output.
struct ConsoleEvent {
    enum Kind { Attribute, Line } kind;
    std::uint16_t attribute;  // for Attribute
    std::string text;         // for Line
};
struct ConsoleState {
    platform::StdOutput std_output = platform::StdOutput::NotConsole;
    std::vector<std::string> debug_output;  // each write, as written
    std::vector<ConsoleEvent> console;      // attribute changes and lines, in order
    std::int64_t now_100ns = 0;             // the clock; FormatLocalTime uses UTC
};
ConsoleState& Console();

// Text conversion. By default UTF-8 is the narrow encoding, as on Linux.
struct TextState {
    bool ascii_code_page = false;  // narrow encoding maps every non-ASCII character to '?'
    bool fail_utf8_to_utf16 = false;
    bool fail_utf16_to_utf8 = false;
    bool fail_utf16_to_narrow = false;
};
TextState& Text();

// The module's own path, as the platform reports it.
struct ModuleState {
    std::u16string file_name;
    std::vector<const void*> queried_handles;
};
ModuleState& Module();

// Puts every fake back in its initial state.
void ResetPlatform();

}  // namespace fake
