// Code-page conversion through the Windows functions: UTF-8 and UTF-16 both ways, and the ANSI
// code page the console and the engine's paths use.
#include <gtest/gtest.h>

#include "common/text_convert.h"
#include "platform/text.h"
#include "win32_support.h"

namespace {

// "Modell ü 模型 😀": a Latin-1 letter, two CJK ideographs and a surrogate pair.
const std::string kUtf8 = "Modell \xC3\xBC \xE6\xA8\xA1\xE5\x9E\x8B \xF0\x9F\x98\x80";
const std::u16string kUtf16 = u"Modell \u00FC \u6A21\u578B \U0001F600";

TEST(Win32TextTest, Utf8AndUtf16ConvertBothWaysWithTheWindowsSizeContract) {
    EXPECT_EQ(Utf8ToWide(kUtf8), kUtf16);
    EXPECT_EQ(WideToUtf8(kUtf16), kUtf8);

    // Sizes count the terminator; a buffer one short is a failure.
    const int units = platform::Utf8ToUtf16(kUtf8.c_str(), nullptr, 0);
    EXPECT_EQ(units, static_cast<int>(kUtf16.size()) + 1);
    std::u16string short_buffer(static_cast<size_t>(units - 1), u'\0');
    EXPECT_EQ(platform::Utf8ToUtf16(kUtf8.c_str(), short_buffer.data(), units - 1), 0);
    const int bytes = platform::Utf16ToUtf8(kUtf16.c_str(), nullptr, 0);
    EXPECT_EQ(bytes, static_cast<int>(kUtf8.size()) + 1);

    EXPECT_EQ(Utf8ToWide(""), u"");
    EXPECT_EQ(WideToAcp(u""), "");
}

}  // namespace
