#include <gtest/gtest.h>

#include <string>

#include "config/token_check.h"

namespace {

using namespace std::string_literals;

// "LONE" stands alone on its line, so the engine reads it as an id, not a symbol; ":7" is a
// symbol that looks like a boost.
const std::string kTokens =
    "<blk> 0\n\xE2\x96\x81HE 1\nY 2\n:7 3\nLONE\nA\xE2\x96\x81"
    "B 4\n";

struct Case {
    std::string keywords;
    std::string reason;  // empty: accepted
};

void Check(const Case& c) {
    SCOPED_TRACE(testing::PrintToString(c.keywords));
    std::string reason = "untouched";
    const bool ok = ValidateKeywords(c.keywords.data(), c.keywords.size(), kTokens.data(),
                                     kTokens.size(), reason);
    if (c.reason.empty()) {
        EXPECT_TRUE(ok) << reason;
        EXPECT_EQ(reason, "untouched");
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(reason, c.reason);
    }
}

TEST(KeywordCheckTest, AcceptsWhatTheEngineReads) {
    const Case cases[] = {
        {"\xE2\x96\x81HE Y", ""},
        {"\xE2\x96\x81HE Y @HEY_Y\n", ""},
        {"\xE2\x96\x81HE Y :1.5 #0.3 @N\n", ""},
        {"\xE2\x96\x81HE Y @N #-2 :+.5\n", ""},
        {"\xE2\x96\x81HE Y #1e-3 :2E+1\n", ""},
        {"\xE2\x96\x81HE Y #0\n", ""},
        {"\n\n\xE2\x96\x81HE\n\n", ""},
        {"\xE2\x96\x81HE Y\r\nY\r\n", ""},
        {"\t\xE2\x96\x81HE\vY\f@N \n", ""},
        {"\xE2\x96\x81HE :7\n", ""},
        {"A\xE2\x96\x81"
         "B <blk>\n",
         ""},
        {"Y @\xC3\x89T\xC3\x89\n", ""},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(KeywordCheckTest, RefusesWithLineAndWord) {
    const Case cases[] = {
        {"\xE2\x96\x81HE Y\nFOO\n", "keyword line 2: unknown token \"FOO\""},
        {"HE\n", "keyword line 1: unknown token \"HE\""},
        {"LONE\n", "keyword line 1: unknown token \"LONE\""},
        {"\xE2\x96\x81HE y\n", "keyword line 1: unknown token \"y\""},
        {"\xE2\x96\x81HE Y\0\n"s, "keyword line 1: unknown token \"Y\\x00\""},
        {"Y @HEY JARVIS\n",
         "keyword line 1: \"JARVIS\" after \"@HEY\" (tokens come first; a display name is one "
         "word)"},
        {"Y @HEY Y\n",
         "keyword line 1: \"Y\" after \"@HEY\" (tokens come first; a display name is one word)"},
        {"Y :2 Y\n",
         "keyword line 1: \"Y\" after \":2\" (tokens come first; a display name is one word)"},
        {"Y :abc\n", "keyword line 1: bad boost \":abc\""},
        {"Y :\n", "keyword line 1: bad boost \":\""},
        {"Y :1.5abc\n", "keyword line 1: bad boost \":1.5abc\""},
        {"Y :1e99\n", "keyword line 1: bad boost \":1e99\""},
        {"Y :1e-40\n", "keyword line 1: bad boost \":1e-40\""},
        {"Y :0x10\n", "keyword line 1: bad boost \":0x10\""},
        {"Y :1e\n", "keyword line 1: bad boost \":1e\""},
        {"Y :.\n", "keyword line 1: bad boost \":.\""},
        {"Y #nan\n", "keyword line 1: bad threshold \"#nan\""},
        {"Y #inf\n", "keyword line 1: bad threshold \"#inf\""},
        {"Y #1,5\n", "keyword line 1: bad threshold \"#1,5\""},
        {"Y :1 :2\n", "keyword line 1: more than one boost \":2\""},
        {"Y #1 #2\n", "keyword line 1: more than one threshold \"#2\""},
        {"Y @A @B\n", "keyword line 1: more than one display name \"@B\""},
        {"Y @\n", "keyword line 1: empty display name"},
        {"Y\n:1.5 #0.3 @X\n", "keyword line 2: no tokens before \"@X\""},
        {"\n", "keyword list has no keywords"},
        {"", "keyword list has no keywords"},
        {" \r\n\t\n", "keyword list has no keywords"},
    };
    for (const Case& c : cases) {
        Check(c);
    }
}

TEST(KeywordCheckTest, SymbolsComeOnlyFromLinesWithAnId) {
    const std::string tokens = "\n\tA 1\nB\n";
    std::string reason;
    EXPECT_TRUE(ValidateKeywords("A", 1, tokens.data(), tokens.size(), reason)) << reason;
    EXPECT_FALSE(ValidateKeywords("B", 1, tokens.data(), tokens.size(), reason));
    EXPECT_FALSE(ValidateKeywords("A", 1, nullptr, 0, reason));
    EXPECT_EQ(reason, "keyword line 1: unknown token \"A\"");
}

}  // namespace
