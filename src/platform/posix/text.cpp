// Linux: UTF-8 is the narrow encoding; file names are bytes.
#include "platform/text.h"

#include <string>

#include "common/utf.h"

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
    return CopyOut(DecodeUtf8(src), dst, dst_size);
}

int Utf16ToUtf8(const char16_t* src, char* dst, int dst_size) {
    return CopyOut(EncodeUtf8(src), dst, dst_size);
}

int Utf16ToNarrow(const char16_t* src, char* dst, int dst_size) {
    return Utf16ToUtf8(src, dst, dst_size);
}

}  // namespace platform
