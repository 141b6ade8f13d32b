// The Japanese ANSI code page. Run by ctest with LANG=ja_JP.UTF-8, from which Wine takes code
// page 932.
#include <gtest/gtest.h>

#include "common/text_convert.h"
#include "log/logger.h"
#include "win32_support.h"

namespace {

TEST(Win32TextTest, JapaneseCodePageGivesShiftJis) {
    if (GetACP() != 932) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
    }
    const std::string shift_jis = "\x93\xFA\x96\x7B\x8C\xEA";  // 日本語
    EXPECT_EQ(WideToAcp(u"\u65E5\u672C\u8A9E"), shift_jis);
    EXPECT_EQ(Utf8ToAnsi("[kelmor.dll] \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"),
              "[kelmor.dll] " + shift_jis);
    EXPECT_EQ(Utf8ToAnsi(""), "");
}

}  // namespace
