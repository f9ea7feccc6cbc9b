// The AT-SPI layer's bus-free decisions: which application and which focused object to read,
// UTF-16 coverage, and reading a selection that spans embedded children.

#include "tree_model_atspi.h"
#include "utf.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

// --- Choosing the application ----------------------------------------------------------

struct AppCase {
    const char* name;
    std::vector<AppCandidate> apps;
    std::optional<std::uint32_t> activeWindowPid;
    std::optional<std::size_t> chosen;
    std::vector<std::size_t> askFrames;
};

class ChooseApplication : public testing::TestWithParam<AppCase> {};

TEST_P(ChooseApplication, PrefersTheActiveWindowsProcessThenAnActiveFrame) {
    const AppCase& c = GetParam();
    EXPECT_EQ(chooseApplication(c.apps, c.activeWindowPid), c.chosen);
    EXPECT_EQ(appsToAskForFrames(c.apps, c.activeWindowPid), c.askFrames);
}

const std::optional<bool> unknown;

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseApplication,
    testing::Values(
        // The window's process decides even when another application claims an active frame
        // (a toolkit that never marks its frames active, beside one that forgets to clear it).
        AppCase{"pidMatchBeatsActive", {{10, true}, {20, unknown}}, 20, 1, {}},
        AppCase{"onlyPidMatch", {{10, unknown}, {20, unknown}, {30, unknown}}, 30, 2, {}},
        // No window manager and no focus: the frames decide.
        AppCase{"noWindowActiveFrame", {{10, false}, {20, true}}, std::nullopt, 1, {0, 1}},
        AppCase{"noPidMatchActiveFrame", {{10, false}, {20, true}}, 99, 1, {0, 1}},
        AppCase{"unknownPidsActiveFrame", {{std::nullopt, true}}, 99, 0, {0}},
        AppCase{"nothingActive", {{10, false}, {20, false}}, 99, std::nullopt, {0, 1}},
        AppCase{"noApplications", {}, 5, std::nullopt, {}},
        // Two connections of one process: the one with an active frame, else the first.
        AppCase{"twoOfOneProcessActive", {{7, false}, {7, true}, {8, true}}, 7, 1, {0, 1}},
        AppCase{"twoOfOneProcessNone", {{7, false}, {7, false}}, 7, 0, {0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Choosing the focused object -------------------------------------------------------

FocusCandidate focused(const char* path, int depth, bool hasText) {
    return {{":1.5", path}, depth, hasText};
}

TEST(ChooseFocused, DeepestWithTextWinsOverDeeperWithout) {
    // Qt marks a tab, the viewport and a status-bar button focused beside the editor.
    auto chosen = chooseFocused({focused("/tab", 3, false), focused("/editor", 5, true),
                                 focused("/status-button", 7, false)});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->object.path, "/editor");
}

TEST(ChooseFocused, DeepestAmongThoseWithText) {
    // A document panel with text around the focused paragraph.
    auto chosen = chooseFocused({focused("/panel", 4, true), focused("/paragraph", 6, true),
                                 focused("/frame-title", 2, true)});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->object.path, "/paragraph");
}

TEST(ChooseFocused, DeepestWhenNoneHasTextAndFirstAmongEquals) {
    auto chosen =
        chooseFocused({focused("/a", 2, false), focused("/b", 5, false), focused("/c", 5, false)});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->object.path, "/b");
    EXPECT_FALSE(chooseFocused({}));
}

// --- Focus from an application's object cache ------------------------------------------

constexpr std::uint64_t kShown = (1ull << kStateShowing) | (1ull << kStateVisible);
constexpr std::uint64_t kVisibleOnly = 1ull << kStateVisible;
constexpr std::uint64_t kFocusedState = kShown | (1ull << kStateFocused);

struct CacheCase {
    const char* name;
    std::vector<CachedObject> cache;
    std::vector<std::pair<std::string, int>> found; // path and depth below the root
};

class FocusedInCache : public testing::TestWithParam<CacheCase> {};

TEST_P(FocusedInCache, KeepsFocusedObjectsAWalkFromTheRootWouldReach) {
    std::vector<std::pair<std::string, int>> found;
    for (const FocusCandidate& c : focusedInCache(GetParam().cache, ":1.9", "/frame"))
        found.emplace_back(c.object.path, c.depth);
    EXPECT_EQ(found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FocusedInCache,
    testing::Values(
        // GTK 4: containers only visible, the text view deep below the frame.
        CacheCase{"deepTextBelowVisibleContainers",
                  {{"/frame", "/root", kShown | 2, false},
                   {"/box", "/frame", kVisibleOnly, false},
                   {"/scroller", "/box", kVisibleOnly, false},
                   {"/view", "/scroller", kFocusedState, true}},
                  {{"/view", 3}}},
        CacheCase{"otherWindowHiddenAncestorAndDefunctLeftOut",
                  {{"/frame", "/root", kShown, false},
                   {"/other-frame", "/root", kShown, false},
                   {"/elsewhere", "/other-frame", kFocusedState, true},
                   {"/closed-popover", "/frame", 0, false},
                   {"/in-popover", "/closed-popover", kFocusedState, true},
                   {"/gone", "/frame", kFocusedState | (1ull << kStateDefunct), true},
                   {"/button", "/frame", kFocusedState, false}},
                  {{"/button", 1}}},
        // A parent missing from the cache or a cycle of parents ends the climb.
        CacheCase{"brokenChainsLeftOut",
                  {{"/orphan", "/missing", kFocusedState, true},
                   {"/a", "/b", kFocusedState, true},
                   {"/b", "/a", kShown, false}},
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A long range's box from its ends -------------------------------------------------

TEST(BoxFromEnds, UnionOnOneLineAndTheElementsWidthOverSeveral) {
    const AxRect element{100, 50, 600, 400};
    AxRect first{120, 60, 8, 16};
    AxRect sameLine{300, 61, 8, 15};
    auto one = boxFromEnds(first, sameLine, element);
    ASSERT_TRUE(one);
    EXPECT_EQ(std::tie(one->x, one->y, one->width, one->height),
              std::make_tuple(120.0, 60.0, 188.0, 16.0));
    AxRect laterLine{140, 300, 8, 16};
    auto several = boxFromEnds(first, laterLine, element);
    ASSERT_TRUE(several);
    EXPECT_EQ(std::tie(several->x, several->y, several->width, several->height),
              std::make_tuple(100.0, 60.0, 600.0, 256.0));
    // Without the element's box the ends' union is all there is.
    auto bare = boxFromEnds(first, laterLine, std::nullopt);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->width, 28.0);
}

TEST(BoxFromEnds, AbsentWhenAnEndIsNotLaidOut) {
    // Firefox's first answer after a selection: a box with no extent.
    EXPECT_FALSE(boxFromEnds(AxRect{0, 0, 0, 0}, AxRect{10, 10, 8, 16}, AxRect{0, 0, 50, 50}));
    EXPECT_FALSE(boxFromEnds(AxRect{10, 10, 8, 16}, std::nullopt, AxRect{0, 0, 50, 50}));
}

TEST(KeepsTextPrivate, OnlyPasswordText) {
    EXPECT_TRUE(keepsTextPrivate(kRolePasswordText));
    for (std::uint32_t role : {0u, 61u /* text */, 79u /* entry */, 95u /* document web */})
        EXPECT_FALSE(keepsTextPrivate(role)) << role;
}

// --- Characters and UTF-16 units -------------------------------------------------------

class CharactersCovering
    : public testing::TestWithParam<std::tuple<std::string, std::int64_t, std::int64_t>> {};

TEST_P(CharactersCovering, CountsCodePointsForUnits) {
    const auto& [text, units, characters] = GetParam();
    EXPECT_EQ(charactersCoveringUnits(text, units), characters);
}

const std::string kEmoji = "\xF0\x9F\x98\x80"; // U+1F600, two UTF-16 units

INSTANTIATE_TEST_SUITE_P(
    Cases, CharactersCovering,
    testing::Values(std::make_tuple(std::string("abc"), 2, 2),
                    std::make_tuple(std::string("abc"), 9, 3),
                    std::make_tuple("a" + kEmoji + "b", 3, 2),
                    // Half of the pair still needs the whole character fetched.
                    std::make_tuple("a" + kEmoji + "b", 2, 2),
                    std::make_tuple("\xC3\xA9\xC3\xA9", 1, 1), std::make_tuple(std::string(), 4, 0),
                    std::make_tuple(std::string("abc"), 0, 0),
                    // Padding after an astral character is covered but counts no unit.
                    std::make_tuple("a" + kEmoji + "\xEF\xBB\xBF" + "bc", 4, 4),
                    std::make_tuple(kEmoji + "\xEF\xBB\xBF" + kEmoji + "\xEF\xBB\xBF", 3, 3)));

TEST(SupplementaryPadding, DropsOnlyTheMarkRightAfterAnAstralCharacter) {
    const std::string mark = "\xEF\xBB\xBF"; // U+FEFF
    EXPECT_EQ(withoutSupplementaryPadding("a" + kEmoji + mark + "b"), "a" + kEmoji + "b");
    EXPECT_EQ(withoutSupplementaryPadding(kEmoji + mark + kEmoji + mark), kEmoji + kEmoji);
    EXPECT_EQ(withoutSupplementaryPadding(mark + "a" + mark), mark + "a" + mark);
    EXPECT_EQ(withoutSupplementaryPadding(kEmoji + mark + mark), kEmoji + mark);
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
    EXPECT_EQ(assembleText(page, kDocument, 0, 3), "paragraph\nSecond\nThird");
}

TEST(AssembleText, ListItemsLeaveTheirMarkersOut) {
    FakePage page;
    // From inside the first item to the end of the second; the second's own selection
    // starts at its marker, as Firefox gives it.
    page.objects["/doc"] = {U"\uFFFC", {{0, "/list"}}, {}};
    page.objects["/list"] = {U"\uFFFC\uFFFC", {{0, "/li1"}, {1, "/li2"}}, std::pair{0, 2}};
    page.objects["/li1"] = {U"\u2022 First item text", {}, std::pair{8, 17}, false, kRoleListItem};
    page.objects["/li2"] = {U"\u2022 Second", {}, std::pair{0, 8}, false, kRoleListItem};
    EXPECT_EQ(assembleText(page, kDocument, 0, 1), "item text\nSecond");
    page.objects["/li1"] = {U"12. First", {}, {}, false, kRoleListItem};
    page.objects["/li2"] = {U"\u2022 Second", {}, {}, false, 0}; // not a list item: kept
    EXPECT_EQ(assembleText(page, kDocument, 0, 1), "First\n\u2022 Second");
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
    EXPECT_EQ(assembleText(page, kDocument, 0, 3), "amiddleb");
    EXPECT_EQ(assembleText(page, kDocument, 1, 3), "midb") << "at the start: its own selection";
}

TEST(AssembleText, ChildWithoutSelectionGivesItsWholeTextAndNestedChildrenAreRead) {
    FakePage page;
    page.objects["/doc"] = {U"Go \uFFFC now", {{3, "/link"}}, {}};
    page.objects["/link"] = {U"to \uFFFC", {{3, "/em"}}, {}};
    page.objects["/em"] = {U"the page", {}, {}};
    EXPECT_EQ(assembleText(page, kDocument, 0, 8), "Go to the page now");
}

TEST(AssembleText, UnreadableChildrenContributeNothing) {
    FakePage page;
    page.objects["/doc"] = {U"a\uFFFCb\uFFFCc", {{1, "/img"}}, {}};
    page.objects["/img"] = {U"", {}, {}, true};
    // The second U+FFFC has no child at all.
    EXPECT_EQ(assembleText(page, kDocument, 0, 5), "abc");
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
    std::string all = assembleText(page, kDocument, 0, 300).value();
    EXPECT_EQ(all.size(), 300u * 5 - 1) << "300 paragraphs, one per line";
    // The document's text, then children, their own selections, their roles and their texts.
    EXPECT_EQ(page.batches, 5);
}

TEST(AssembleText, UnreadableElementGivesNothing) {
    FakePage page;
    page.objects["/doc"] = {U"x", {}, {}, true};
    EXPECT_FALSE(assembleText(page, kDocument, 0, 1));
}

TEST(AssembleText, StopsAtTheDepthAndUnitLimits) {
    FakePage page;
    page.objects["/doc"] = {U"\uFFFC", {{0, "/a"}}, {}};
    page.objects["/a"] = {U"A\uFFFC", {{1, "/doc"}}, {}}; // a cycle
    std::string text = assembleText(page, kDocument, 0, 1, {4, 1000}).value();
    EXPECT_EQ(text, "AA");
    page.objects["/doc"] = {U"\uFFFC \uFFFC", {{0, "/long"}, {2, "/long"}}, {}};
    page.objects["/long"] = {std::u32string(600, U'x'), {}, {}};
    text = assembleText(page, kDocument, 0, 3, {16, 1000}).value();
    EXPECT_EQ(text.size(), 1000u) << "stops once the unit budget is used";
}

TEST(HandleTable, HandlesAreNonZeroUniqueAndForgotten) {
    HandleTable<std::string> table;
    auto first = table.add("one");
    auto second = table.add("two");
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    ASSERT_TRUE(table.find(second));
    EXPECT_EQ(*table.find(second), "two");
    table.erase(first);
    EXPECT_EQ(table.find(first), nullptr);
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.size(), 1u);
}

} // namespace
