// Linux: UTF-8 is the narrow encoding; file names are bytes.
#include "platform/text.h"

#include <string>

#include "common/utf.h"
#include "platform/answer.h"

namespace platform {

int Utf8ToUtf16(const char* src, char16_t* dst, int dst_size) {
    return AnswerConversion(DecodeUtf8(src), dst, dst_size);
}

int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size) {
    return AnswerConversion(EncodeUtf8(src), dst, dst_size);
}

int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size) {
    return Utf16ToUtf8(src, dst, dst_size);
}

}  // namespace platform
