// How platform operations hand back text, after the Windows functions they mirror. Shared by the
// implementations that produce the text themselves (Linux, the test fakes).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Code-page converter contract: with no buffer, the size needed (terminator included); else the
// units written (terminator included), or 0 when the buffer is too small.
template <typename Text>
int AnswerConversion(const Text& converted, typename Text::value_type* dst, int dst_size) {
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

// Path lookup contract: the length written (terminator not counted) when it fits `size` units,
// else the size needed.
inline std::uint32_t AnswerLookup(const std::u16string& path, char16_t* buffer,
                                  std::uint32_t size) {
    const auto length = static_cast<std::uint32_t>(path.size());
    if (length >= size) {
        return length + 1;
    }
    path.copy(buffer, length);
    buffer[length] = u'\0';
    return length;
}

}  // namespace platform
