#include <string>

#include "common/utf.h"
#include "fake_platform.h"
#include "platform/text.h"

namespace fake {

TextState& Text() {
    static TextState state;
    return state;
}

}  // namespace fake

namespace {

template <typename Out>
int CopyOut(const Out& converted, typename Out::value_type* dst, int dst_size) {
    const int needed = static_cast<int>(converted.size()) + 1;
    if (dst == nullptr || dst_size == 0) {
        return needed;
    }
    if (dst_size < needed) {
        return 0;
    }
    converted.copy(dst, converted.size());
    dst[converted.size()] = 0;
    return needed;
}

}  // namespace

namespace platform {

int Utf8ToUtf16(const char* src, char16_t* dst, int dst_size) {
    if (fake::Text().fail_utf8_to_utf16) {
        return 0;
    }
    return CopyOut(DecodeUtf8(src), dst, dst_size);
}

int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size) {
    if (fake::Text().fail_utf16_to_utf8) {
        return 0;
    }
    return CopyOut(EncodeUtf8(src), dst, dst_size);
}

int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size) {
    if (fake::Text().fail_utf16_to_narrow) {
        return 0;
    }
    if (!fake::Text().ascii_code_page) {
        return CopyOut(EncodeUtf8(src), dst, dst_size);
    }
    std::string narrow;
    for (const char16_t* p = src; *p != 0; ++p) {
        if (*p >= 0xDC00 && *p <= 0xDFFF && p != src && p[-1] >= 0xD800 && p[-1] <= 0xDBFF) {
            continue;  // second half of a pair already replaced
        }
        narrow.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    }
    return CopyOut(narrow, dst, dst_size);
}

}  // namespace platform
