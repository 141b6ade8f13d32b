// Text conversion between the library's encodings: UTF-8 (messages, the module directory),
// UTF-16 (path handling) and the narrow encoding that the platform uses for file names
// (the ANSI code page on Windows, UTF-8 bytes elsewhere).
//
// Each function follows the contract of the Windows code-page functions with a NUL-terminated
// input: with `dst` null or `dst_size` 0 it answers the size needed, terminator included; else
// it converts into `dst` and answers the units written, terminator included. 0 means failure
// (also when `dst` is too small).
#pragma once

namespace platform {

int Utf8ToUtf16(const char* src, char16_t* dst, int dst_size);
int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size);
int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size);

}  // namespace platform
