// Windows: the code-page converters, UTF-8 and the ANSI code page.
#include "platform/text.h"

#include "windows_headers.h"

namespace platform {

namespace {

wchar_t* Wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}
const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace

int Utf8ToUtf16(const char* src, char16_t* dst, int dst_size) {
    return MultiByteToWideChar(CP_UTF8, 0, src, -1, Wide(dst), dst == nullptr ? 0 : dst_size);
}

int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size) {
    return WideCharToMultiByte(CP_UTF8, 0, Wide(src), -1, dst, dst == nullptr ? 0 : dst_size,
                               nullptr, nullptr);
}

int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size) {
    return WideCharToMultiByte(CP_ACP, 0, Wide(src), -1, dst, dst == nullptr ? 0 : dst_size,
                               nullptr, nullptr);
}

}  // namespace platform
