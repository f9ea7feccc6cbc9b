// Conversions between UTF-8 and UTF-16, with U+FFFD for every bad unit.

#include "utf.h"

#include <gtest/gtest.h>

namespace {

const std::string kGrinning = "\xF0\x9F\x98\x80";
const std::string kReplacement = "\xEF\xBF\xBD";

TEST(Utf, CountsUtf16UnitsOfAstralCharacters) {
    EXPECT_EQ(utf16Length("a" + kGrinning + "b"), 4);
    EXPECT_EQ(utf16Length("caf\xC3\xA9"), 4);
    EXPECT_EQ(utf16Length(""), 0);
}

TEST(Utf, CountsCodePoints) {
    EXPECT_EQ(codePointCount("a" + kGrinning + "\xC3\xA9"), 3u);
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(utf8FromUtf16(u"a\xD83D"), "a" + kReplacement);
    EXPECT_EQ(utf8FromUtf16(u"\xDE00z"), kReplacement + "z");
    EXPECT_EQ(utf8FromUtf16(u"\xD83D\xDE00"), kGrinning);
}

TEST(Utf, PrefixCutThroughAPairEndsInOneReplacement) {
    EXPECT_EQ(utf16Prefix("ab" + kGrinning + "c", 3), "ab" + kReplacement);
    EXPECT_EQ(utf16Prefix("ab" + kGrinning + "c", 4), "ab" + kGrinning);
    EXPECT_EQ(utf16Prefix("ab", 10), "ab");
}

TEST(Utf, RoundTripsValidText) {
    std::string text = "x\xC3\xA9\xE2\x82\xAC" + kGrinning;
    EXPECT_EQ(utf8FromUtf16(utf16FromUtf8(text)), text);
}

TEST(Utf, DecodingAlwaysAdvances) {
    std::string bytes = "\xF4\x90\x80\x80\xED\xA0\xE0\x80";
    std::string rebuilt = utf8FromUtf16(utf16FromUtf8(bytes));
    std::string expected;
    for (int i = 0; i < 8; ++i)
        expected += kReplacement; // one per maximal ill-formed part
    EXPECT_EQ(rebuilt, expected);
}

} // namespace
