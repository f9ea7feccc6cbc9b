// The text of a selection that spans embedded children, from a page held in memory, and
// which objects keep their text to themselves.

#include "text_assembly.h"
#include "utf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(KeepsTextPrivate, OnlyPasswordText) {
    EXPECT_TRUE(keepsTextPrivate(atspi::kRolePasswordText));
    for (std::uint32_t role : {0u, 61u /* text */, 79u /* entry */, 95u /* document web */})
        EXPECT_FALSE(keepsTextPrivate(role)) << role;
}

// --- Embedded objects ------------------------------------------------------------------

const std::string kObj = "\xEF\xBF\xBC"; // U+FFFC

// A page held in memory: each object's text in code points, its embedded children by offset,
// and its own selection. Every read is recorded.
class FakePage final : public HypertextSource {
  public:
    struct Object {
        std::u32string text;
        std::map<std::int64_t, std::string> children;
        std::optional<std::pair<std::int64_t, std::int64_t>> selection;
        bool unreadable = false;
        std::uint32_t role = 0;
    };
    std::map<std::string, Object> objects;
    std::vector<std::string> reads;

    std::optional<std::string> text(const AtspiObject& object, std::int64_t start,
                                    std::int64_t end) {
        reads.push_back(object.path);
        const Object& o = objects.at(object.path);
        if (o.unreadable) return std::nullopt;
        std::int64_t size = static_cast<std::int64_t>(o.text.size());
        if (end < 0 || end > size) end = size;
        std::string out;
        for (std::int64_t i = start; i < end; ++i)
            appendUtf8(out, o.text[static_cast<std::size_t>(i)]);
        return out;
    }
    std::vector<std::optional<std::string>>
    texts(const std::vector<TextRequest>& requests) override {
        ++batches;
        std::vector<std::optional<std::string>> out;
        for (const TextRequest& request : requests)
            out.push_back(text(request.object, request.start, request.end));
        return out;
    }
    std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) override {
        ++batches;
        std::vector<std::optional<AtspiObject>> out;
        for (const auto& [object, offset] : characters) {
            const Object& o = objects.at(object.path);
            auto found = o.children.find(offset);
            if (found == o.children.end()) {
                out.emplace_back();
            } else {
                out.push_back(AtspiObject{object.bus, found->second});
            }
        }
        return out;
    }
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>
    selectionsIn(const std::vector<AtspiObject>& asked) override {
        ++batches;
        std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> out;
        for (const AtspiObject& object : asked)
            out.push_back(objects.at(object.path).selection);
        return out;
    }
    std::vector<std::uint32_t> rolesOf(const std::vector<AtspiObject>& asked) override {
        ++batches;
        std::vector<std::uint32_t> out;
        for (const AtspiObject& object : asked)
            out.push_back(objects.at(object.path).role);
        return out;
    }
    int batches = 0;
};

const AtspiObject kDocument{":1.9", "/doc"};

TEST(AssembleText, PartlySelectedParagraphsGiveTheirOwnSelection) {
    FakePage page;
    // Three paragraphs; the selection runs from inside the first to inside the third.
    page.objects["/doc"] = {U"\uFFFC\uFFFC\uFFFC", {{0, "/p1"}, {1, "/p2"}, {2, "/p3"}}, {}};
    page.objects["/p1"] = {U"First paragraph", {}, std::pair{6, 15}};
    page.objects["/p2"] = {U"Second", {}, std::pair{0, 6}};
    page.objects["/p3"] = {U"Third one", {}, std::pair{0, 5}};
    AssembledText assembled = assembleText(page, kDocument, 0, 3);
    EXPECT_EQ(assembled.text, "paragraph\nSecond\nThird");
    // The ranges whose boxes make the selection's: the document holds only children; the
    // paragraph inside is read whole, to its last character.
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> reads;
    for (const TextRequest& read : assembled.textReads)
        reads.emplace_back(read.object.path, read.start, read.end);
    EXPECT_EQ(reads, (decltype(reads){{"/p1", 6, 15}, {"/p2", 0, 6}, {"/p3", 0, 5}}));
}

TEST(AssembleText, ListItemsLeaveTheirMarkersOut) {
    FakePage page;
    // From inside the first item to the end of the second; the second's own selection
    // starts at its marker, as Firefox gives it.
    page.objects["/doc"] = {U"\uFFFC", {{0, "/list"}}, {}};
    page.objects["/list"] = {U"\uFFFC\uFFFC", {{0, "/li1"}, {1, "/li2"}}, std::pair{0, 2}};
    page.objects["/li1"] = {
        U"\u2022 First item text", {}, std::pair{8, 17}, false, atspi::kRoleListItem};
    page.objects["/li2"] = {U"\u2022 Second", {}, std::pair{0, 8}, false, atspi::kRoleListItem};
    EXPECT_EQ(assembleText(page, kDocument, 0, 1).text, "item text\nSecond");
    page.objects["/li1"] = {U"12. First", {}, {}, false, atspi::kRoleListItem};
    page.objects["/li2"] = {U"\u2022 Second", {}, {}, false, 0}; // not a list item: kept
    EXPECT_EQ(assembleText(page, kDocument, 0, 1).text, "First\n\u2022 Second");
}

class ListMarker
    : public testing::TestWithParam<std::tuple<std::string, std::string, std::int64_t>> {};

TEST_P(ListMarker, OnlyAMarkerAndItsSpaceAreTaken) {
    const auto& [text, rest, characters] = GetParam();
    std::int64_t taken = -1;
    EXPECT_EQ(withoutListMarker(text, taken), rest);
    EXPECT_EQ(taken, characters);
}

INSTANTIATE_TEST_SUITE_P(Cases, ListMarker,
                         testing::Values(std::make_tuple("\u2022 Second", "Second", 2),
                                         std::make_tuple("\u25E6 sub", "sub", 2),
                                         std::make_tuple("3. Third", "Third", 3),
                                         std::make_tuple("iv) Four", "Four", 4),
                                         std::make_tuple("No marker", "No marker", 0),
                                         std::make_tuple("\u2022Tight", "\u2022Tight", 0),
                                         std::make_tuple("12345. long", "12345. long", 0),
                                         std::make_tuple("", "", 0)));

TEST(AssembleText, ChildInsideTheRangeIsReadWholeWhateverItsOwnSelectionSays) {
    FakePage page;
    // A toolkit that counts a child's selection in other units than its text.
    page.objects["/doc"] = {U"a\uFFFCb", {{1, "/p"}}, {}};
    page.objects["/p"] = {U"middle", {}, std::pair{0, 3}};
    EXPECT_EQ(assembleText(page, kDocument, 0, 3).text, "amiddleb");
    EXPECT_EQ(assembleText(page, kDocument, 1, 3).text, "midb")
        << "at the start: its own selection";
}

TEST(AssembleText, ChildWithoutSelectionGivesItsWholeTextAndNestedChildrenAreRead) {
    FakePage page;
    page.objects["/doc"] = {U"Go \uFFFC now", {{3, "/link"}}, {}};
    page.objects["/link"] = {U"to \uFFFC", {{3, "/em"}}, {}};
    page.objects["/em"] = {U"the page", {}, {}};
    EXPECT_EQ(assembleText(page, kDocument, 0, 8).text, "Go to the page now");
}

TEST(AssembleText, UnreadableChildrenContributeNothing) {
    FakePage page;
    page.objects["/doc"] = {U"a\uFFFCb\uFFFCc", {{1, "/img"}}, {}};
    page.objects["/img"] = {U"", {}, {}, true};
    // The second U+FFFC has no child at all.
    EXPECT_EQ(assembleText(page, kDocument, 0, 5).text, "abc");
}

TEST(AssembleText, ChildrenOfOneLevelAreAskedTogether) {
    FakePage page;
    std::u32string text;
    std::map<std::int64_t, std::string> children;
    for (int i = 0; i < 300; ++i) {
        text += U'\uFFFC';
        children[i] = "/p";
    }
    page.objects["/doc"] = {text, children, {}};
    page.objects["/p"] = {U"para", {}, std::pair{0, 4}};
    std::string all = assembleText(page, kDocument, 0, 300).text.value();
    EXPECT_EQ(all.size(), 300u * 5 - 1) << "300 paragraphs, one per line";
    // The document's text, then children, their own selections, their roles and their texts.
    EXPECT_EQ(page.batches, 5);
}

TEST(AssembleText, UnreadableElementGivesNothing) {
    FakePage page;
    page.objects["/doc"] = {U"x", {}, {}, true};
    EXPECT_FALSE(assembleText(page, kDocument, 0, 1).text);
}

TEST(AssembleText, StopsAtTheDepthAndUnitLimits) {
    FakePage page;
    page.objects["/doc"] = {U"\uFFFC", {{0, "/a"}}, {}};
    page.objects["/a"] = {U"A\uFFFC", {{1, "/doc"}}, {}}; // a cycle
    std::string text = assembleText(page, kDocument, 0, 1, {4, 1000}).text.value();
    EXPECT_EQ(text, "AA");
    page.objects["/doc"] = {U"\uFFFC \uFFFC", {{0, "/long"}, {2, "/long"}}, {}};
    page.objects["/long"] = {std::u32string(600, U'x'), {}, {}};
    text = assembleText(page, kDocument, 0, 3, {16, 1000}).text.value();
    EXPECT_EQ(text.size(), 1000u) << "stops once the unit budget is used";
}

// A password anywhere among the children whose text would go into the answer keeps the whole
// range private, and its text is never read.
struct PasswordCase {
    const char* name;
    std::u32string paragraph;
    std::int64_t start, end;
};
void PrintTo(const PasswordCase& c, std::ostream* os) {
    *os << c.name;
}

class PasswordInRange : public testing::TestWithParam<PasswordCase> {};

TEST_P(PasswordInRange, KeepsTheWholeRangePrivate) {
    FakePage page;
    const PasswordCase& c = GetParam();
    page.objects["/doc"] = {U"￼", {{0, "/p"}}, {}};
    page.objects["/p"] = {c.paragraph, {{11, "/secret"}}, {}};
    page.objects["/secret"] = {U"s3cret-hunter2", {}, {}};
    page.objects["/secret"].role = atspi::kRolePasswordText;
    const AssembledText assembled = assembleText(page, kDocument, c.start, c.end);
    EXPECT_TRUE(assembled.holdsPassword);
    EXPECT_FALSE(assembled.text);
    EXPECT_EQ(std::count(page.reads.begin(), page.reads.end(), "/secret"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PasswordInRange,
    testing::Values(PasswordCase{"InTheFocusedParagraph", U"Login: ann ￼ done", 0, 1},
                    PasswordCase{"AtTheEndOfTheRange", U"Login: ann ￼", 0, 1}),
    [](const testing::TestParamInfo<PasswordCase>& info) { return info.param.name; });

TEST(AssembleText, PasswordOutsideTheChildrenReadIsNoConcern) {
    FakePage page;
    page.objects["/doc"] = {U"a ￼ b", {{2, "/p"}}, {}};
    page.objects["/p"] = {U"plain", {}, {}};
    const AssembledText assembled = assembleText(page, kDocument, 0, 5);
    EXPECT_FALSE(assembled.holdsPassword);
    EXPECT_EQ(assembled.text, "a plain b");
}

// Embedded characters past the children limit cost nothing: no bookkeeping, no calls.
TEST(AssembleText, EmbeddedCharactersPastTheLimitAreNotAsked) {
    FakePage page;
    page.objects["/doc"] = {std::u32string(100000, U'\uFFFC'), {{0, "/p"}}, {}};
    page.objects["/p"] = {U"para", {}, {}};
    AssemblyLimits limits;
    limits.children = 10;
    const AssembledText assembled = assembleText(page, kDocument, 0, 100000, limits);
    EXPECT_EQ(assembled.text, "para");
    EXPECT_EQ(page.batches, 5);
}

// Past kMeasuredReads ranges read, none is kept: a box from some of them would be too small.
TEST(AssembleText, MeasuredReadsAreBounded) {
    for (std::size_t count : {kMeasuredReads, kMeasuredReads + 1}) {
        FakePage page;
        page.objects["/doc"] = {std::u32string(count, U'\uFFFC'), {}, {}};
        for (std::size_t i = 0; i < count; ++i) {
            const std::string path = "/p" + std::to_string(i);
            page.objects["/doc"].children[std::int64_t(i)] = path;
            page.objects[path] = {U"line", {}, {}};
        }
        AssembledText assembled = assembleText(page, kDocument, 0, std::int64_t(count));
        EXPECT_EQ(assembled.textReads.size(), count == kMeasuredReads ? count : 0) << count;
    }
}

// --- Ranges read in pieces --------------------------------------------------------------

// A text in UTF-16 units, as Java's bridge gives it: "" for any range holding a surrogate, and
// each unit on its own. `codes` overrides what single offsets answer (a hostile application).
class FakeJavaText final : public HypertextSource {
  public:
    explicit FakeJavaText(std::string text) : units(utf16FromUtf8(text)) {}
    std::u16string units;
    std::map<std::int64_t, std::optional<std::int64_t>> codes;
    std::optional<std::int64_t> unreadablePiece;
    std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
    std::size_t charactersAsked = 0;

    std::vector<std::optional<std::string>>
    texts(const std::vector<TextRequest>& requests) override {
        std::vector<std::optional<std::string>> out;
        for (const TextRequest& r : requests) {
            pieces.emplace_back(r.start, r.end);
            std::u16string_view part = std::u16string_view(units).substr(
                static_cast<std::size_t>(r.start), static_cast<std::size_t>(r.end - r.start));
            bool astral = std::any_of(part.begin(), part.end(),
                                      [](char16_t u) { return u >= 0xD800 && u <= 0xDFFF; });
            if (unreadablePiece == r.start) {
                out.emplace_back();
            } else {
                out.push_back(astral ? std::string() : utf8FromUtf16(part));
            }
        }
        return out;
    }
    std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& c) override {
        return std::vector<std::optional<AtspiObject>>(c.size());
    }
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>
    selectionsIn(const std::vector<AtspiObject>& objects) override {
        return std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>(objects.size());
    }
    std::vector<std::optional<std::int64_t>>
    charactersAt(const AtspiObject&, const std::vector<std::int64_t>& offsets) override {
        charactersAsked += offsets.size();
        std::vector<std::optional<std::int64_t>> out;
        for (std::int64_t at : offsets) {
            if (codes.count(at)) {
                out.push_back(codes[at]);
            } else {
                out.push_back(units[static_cast<std::size_t>(at)]);
            }
        }
        return out;
    }
};

const std::string kJavaText = "Swing: a \xF0\x9F\x98\x80 selection across an emoji, and more.";

struct PieceCase {
    const char* name;
    std::int64_t start, end, piece;
    std::optional<std::string> expected;
    std::size_t charactersAsked;
};

void PrintTo(const PieceCase& c, std::ostream* os) {
    *os << c.name;
}

class TextInPieces : public testing::TestWithParam<PieceCase> {};

TEST_P(TextInPieces, GivesTheRangeFromPiecesAndSingleUnits) {
    const PieceCase& c = GetParam();
    FakeJavaText java(kJavaText);
    PieceLimits limits;
    limits.piece = c.piece;
    limits.characters = 10;
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, c.start, c.end, limits), c.expected);
    EXPECT_EQ(java.charactersAsked, c.charactersAsked);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, TextInPieces,
    testing::Values(
        PieceCase{"EmojiInsideOnePiece", 7, 30, 8, "a \xF0\x9F\x98\x80 selection across a", 8},
        // Units 9 and 10 (the pair) fall in two pieces, both read one by one.
        PieceCase{"PairAcrossTwoPieces", 0, 16, 5, "Swing: a \xF0\x9F\x98\x80 sele", 10},
        PieceCase{"EmojiAlone", 9, 11, 32, "\xF0\x9F\x98\x80", 2},
        PieceCase{"RangeCutsThePair", 7, 10, 32, "a \xEF\xBF\xBD", 3},
        PieceCase{"NoAstralCharacter", 0, 7, 3, "Swing: ", 0},
        PieceCase{"MoreSingleUnitsThanTheLimit", 0, 20, 16, std::nullopt, 0},
        PieceCase{"EmptyRange", 4, 4, 8, std::nullopt, 0}),
    [](const testing::TestParamInfo<PieceCase>& info) { return info.param.name; });

TEST(TextInPieces, PiecesAreAskedTogetherInOrder) {
    FakeJavaText java(kJavaText);
    PieceLimits limits;
    limits.piece = 10;
    ASSERT_TRUE(textInPieces(java, {":1.5", "/text"}, 3, 27, limits));
    EXPECT_EQ(java.pieces,
              (std::vector<std::pair<std::int64_t, std::int64_t>>{{3, 13}, {13, 23}, {23, 27}}));
}

// Whatever single offsets answer, the text is well formed, or absent.
TEST(TextInPieces, HostileCodesBecomeReplacementsOrNothing) {
    FakeJavaText java(kJavaText);
    java.codes[9] = -5;
    java.codes[10] = 0x110000;
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, 9, 11), "\xEF\xBF\xBD\xEF\xBF\xBD");
    java.codes[9] = 0x1F600; // a whole code point where a unit was expected
    java.codes[10] = 0xDE00; // then a lone low surrogate
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, 9, 11), "\xF0\x9F\x98\x80\xEF\xBF\xBD");
    java.codes[10] = 0; // past the text
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, 9, 11), std::nullopt);
    java.codes[10] = std::nullopt; // no answer
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, 9, 11), std::nullopt);
}

TEST(TextInPieces, AnUnreadablePieceGivesNothing) {
    FakeJavaText java(kJavaText);
    java.unreadablePiece = 0;
    EXPECT_EQ(textInPieces(java, {":1.5", "/text"}, 0, 12), std::nullopt);
}

} // namespace
