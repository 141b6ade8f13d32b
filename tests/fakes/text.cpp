#include <string>

#include "common/utf.h"
#include "fake_platform.h"
#include "platform/answer.h"
#include "platform/text.h"

namespace fake {

TextState& Text() {
    static TextState state;
    return state;
}

}  // namespace fake

namespace platform {

int Utf8ToUtf16(const char* src, char16_t* dst, int dst_size) {
    if (fake::Text().fail_utf8_to_utf16) {
        return 0;
    }
    return AnswerConversion(DecodeUtf8(src), dst, dst_size);
}

int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size) {
    if (fake::Text().fail_utf16_to_utf8) {
        return 0;
    }
    return AnswerConversion(EncodeUtf8(src), dst, dst_size);
}

int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size) {
    if (fake::Text().fail_utf16_to_narrow) {
        return 0;
    }
    if (!fake::Text().ascii_code_page) {
        return AnswerConversion(EncodeUtf8(src), dst, dst_size);
    }
    std::string narrow;
    for (const char16_t* p = src; *p != 0; ++p) {
        if (*p >= 0xDC00 && *p <= 0xDFFF && p != src && p[-1] >= 0xD800 && p[-1] <= 0xDBFF) {
            continue;  // second half of a pair already replaced
        }
        narrow.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    }
    return AnswerConversion(narrow, dst, dst_size);
}

}  // namespace platform
