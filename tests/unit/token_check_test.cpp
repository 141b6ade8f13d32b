#include <gtest/gtest.h>

#include <string>

#include "config/token_check.h"

namespace {

using namespace std::string_literals;

struct Case {
    std::string text;
    std::string reason;  // empty: the text is valid
};

void Check(const Case& c) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::string reason = "untouched";
    const bool ok = ValidateTokens(c.text.data(), c.text.size(), reason);
    if (c.reason.empty()) {
        EXPECT_TRUE(ok) << reason;
        EXPECT_EQ(reason, "untouched");
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(reason, c.reason);
    }
}

TEST(TokenCheckTest, AcceptsTheLineShapesTheEngineParses) {
    const Case cases[] = {
        {"", ""},
        {"\n\n\n", ""},
        {"a 1\nb 2", ""},
        {"a 1\nb 2\n", ""},
        {"\ta\t\t1\nb    2\n", ""},
        {"\xE2\x96\x81HE 7\n\xC3\xA9\xFF 8\n", ""},
        {"\x7F 1\n", ""},
        {"single\n", ""},
        {"single   \n", ""},
        {"single\r\n", ""},
        {"   \n\t\n", ""},
        {"a -5\nb +5\nc 0007\nd 12345678901\ne -\nf +\n", ""},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(TokenCheckTest, ReportsTheFirstMalformedLineAsItStands) {
    const Case cases[] = {
        {"a 1\r\nb 2\r\n", "malformed tokens line 1: a 1\r"},
        {"a 1 2\n", "malformed tokens line 1: a 1 2"},
        {"a b\n", "malformed tokens line 1: a b"},
        {"a 1x\n", "malformed tokens line 1: a 1x"},
        {"a 0x1F\n", "malformed tokens line 1: a 0x1F"},
        {"a 1 \n", "malformed tokens line 1: a 1 "},
        {"a 1\t\n", "malformed tokens line 1: a 1\t"},
        {"a -x\n", "malformed tokens line 1: a -x"},
        {"a +-1\n", "malformed tokens line 1: a +-1"},
        {"\n\nhello world\nz 9 9\n", "malformed tokens line 3: hello world"},
        {"a 1\nb 2\nc 3 extra", "malformed tokens line 3: c 3 extra"},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(TokenCheckTest, ReportsTheFirstBinaryByteBeforeAnyMalformedLine) {
    const Case cases[] = {
        {"a 1\nb \0 2"s, "tokens contains binary byte 0x0 at offset 6"},
        {"abcdefg\0"s, "tokens contains binary byte 0x0 at offset 7"},
        {"\x1B"
         "a 1",
         "tokens contains binary byte 0x1b at offset 0"},
        {"a 1\x0C", "tokens contains binary byte 0xc at offset 3"},
        {"a\x0B 1", "tokens contains binary byte 0xb at offset 1"},
        {"a\x01\x02", "tokens contains binary byte 0x1 at offset 1"},
        {"a 1\nb 2 x\nc 3\nd 4\ne 5\nf 6\ng 7\nh 8\ni \0 9\n"s,
         "tokens contains binary byte 0x0 at offset 36"},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

}  // namespace
