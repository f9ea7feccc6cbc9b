// Conversions between UTF-8 and UTF-16, with U+FFFD for every bad unit, and the counts that
// map a toolkit's characters to UTF-16 units.

#include "utf.h"

#include <gtest/gtest.h>

#include <tuple>

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

// --- Characters and UTF-16 units ------------------------------------------------------

class CharactersCovering
    : public testing::TestWithParam<std::tuple<std::string, std::int64_t, std::int64_t>> {};

TEST_P(CharactersCovering, CountsCodePointsForUnits) {
    const auto& [text, units, characters] = GetParam();
    EXPECT_EQ(charactersCoveringUnits(text, units), characters);
}

const std::string kMark = "\xEF\xBB\xBF"; // U+FEFF

INSTANTIATE_TEST_SUITE_P(
    Cases, CharactersCovering,
    testing::Values(std::make_tuple(std::string("abc"), 2, 2),
                    std::make_tuple(std::string("abc"), 9, 3),
                    std::make_tuple("a" + kGrinning + "b", 3, 2),
                    // Half of the pair still needs the whole character fetched.
                    std::make_tuple("a" + kGrinning + "b", 2, 2),
                    std::make_tuple("\xC3\xA9\xC3\xA9", 1, 1), std::make_tuple(std::string(), 4, 0),
                    std::make_tuple(std::string("abc"), 0, 0),
                    // Padding after an astral character is covered but counts no unit.
                    std::make_tuple("a" + kGrinning + kMark + "bc", 4, 4),
                    std::make_tuple(kGrinning + kMark + kGrinning + kMark, 3, 3)));

TEST(SupplementaryPadding, DropsOnlyTheMarkRightAfterAnAstralCharacter) {
    EXPECT_EQ(withoutSupplementaryPadding("a" + kGrinning + kMark + "b"), "a" + kGrinning + "b");
    EXPECT_EQ(withoutSupplementaryPadding(kGrinning + kMark + kGrinning + kMark),
              kGrinning + kGrinning);
    EXPECT_EQ(withoutSupplementaryPadding(kMark + "a" + kMark), kMark + "a" + kMark);
    EXPECT_EQ(withoutSupplementaryPadding(kGrinning + kMark + kMark), kGrinning + kMark);
}

// U+2028 and U+2029 become "\n" and nothing else changes: the UTF-16 length stays.
class PlainLineBreaks : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(PlainLineBreaks, WritesEachSeparatorAsOneLineBreak) {
    const auto& [text, expected] = GetParam();
    EXPECT_EQ(withPlainLineBreaks(text), expected);
    EXPECT_EQ(utf16Length(withPlainLineBreaks(text)), utf16Length(text));
}

INSTANTIATE_TEST_SUITE_P(
    Separators, PlainLineBreaks,
    testing::Values(std::make_tuple("one\xE2\x80\xA9two", "one\ntwo"),
                    std::make_tuple("a\xE2\x80\xA8" + kGrinning + "\xE2\x80\xA9",
                                    "a\n" + kGrinning + "\n"),
                    std::make_tuple("\xE2\x80\xA9\xE2\x80\xA9", "\n\n"),
                    // Neighbours of the separators (U+2027, U+202A, U+20A9) stay.
                    std::make_tuple("\xE2\x80\xA7\xE2\x80\xAA\xE2\x82\xA9",
                                    "\xE2\x80\xA7\xE2\x80\xAA\xE2\x82\xA9"),
                    // A separator cut short at the end, and bad bytes, are left as they are.
                    std::make_tuple("x\xE2\x80", "x\xE2\x80"), std::make_tuple("\r\n", "\r\n"),
                    std::make_tuple(std::string(), std::string())));

// A toolkit's answer for a range is cut to the range's characters, never split inside one.
TEST(FirstCharacters, KeepsWholeCodePointsUpToTheCount) {
    EXPECT_EQ(firstCharacters("abc", 2), "ab");
    EXPECT_EQ(firstCharacters("abc", 9), "abc");
    EXPECT_EQ(firstCharacters("Gr\xC3\xBC\xC3\x9F", 3), "Gr\xC3\xBC");
    EXPECT_EQ(firstCharacters("\xF0\x9F\x98\x80x", 1), "\xF0\x9F\x98\x80");
    EXPECT_EQ(firstCharacters("\xFFz", 1), "\xFF") << "a bad byte counts as one character";
    EXPECT_EQ(firstCharacters("abc", 0), "");
}

} // namespace
