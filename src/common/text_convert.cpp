#include "common/text_convert.h"

#include "platform/text.h"

namespace {

// Runs a converter of the platform's contract: a size query (terminator included), then the
// conversion. A size of 1 or less gives the empty string.
template <typename Out, typename In, typename Convert>
Out Convert2Pass(const In& text, Convert convert) {
    const int size = convert(text.c_str(), nullptr, 0);
    if (size <= 1) {
        return Out();
    }
    Out out(static_cast<size_t>(size), typename Out::value_type());
    const int written = convert(text.c_str(), out.data(), size);
    if (written <= 0) {
        return Out();
    }
    out.resize(static_cast<size_t>(written) - 1);
    return out;
}

}  // namespace

std::u16string Utf8ToWide(const std::string& text) {
    return Convert2Pass<std::u16string>(text, platform::Utf8ToUtf16);
}

std::string WideToUtf8(const std::u16string& text) {
    return Convert2Pass<std::string>(text, platform::Utf16ToUtf8);
}

std::string WideToAcp(const std::u16string& text) {
    return Convert2Pass<std::string>(text, platform::Utf16ToNarrow);
}
