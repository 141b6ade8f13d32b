// The library's own module: its handle and the path of its file.
#pragma once

#include <cstdint>

namespace platform {

// Identifies the loaded library (HMODULE on Windows; an address inside the library elsewhere).
using ModuleHandle = const void*;

// Writes the full path of the module's file, UTF-16, into `buffer` (`capacity` units) and
// answers the number of units written without the terminator; a longer path is cut to the
// buffer. 0 on failure.
std::uint32_t ModuleFileName(ModuleHandle module, char16_t* buffer, std::uint32_t capacity);

}  // namespace platform
