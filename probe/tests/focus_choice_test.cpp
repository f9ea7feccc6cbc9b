// Choosing the application and the focused object from what the bus answered.

#include "focus_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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

// --- Which objects a walk goes below ---------------------------------------------------

struct WalkCase {
    std::uint64_t states;
    bool mayHoldFocus; // mayHoldFocusBelow: the cache's rule
    bool walked;       // walkBelow: the walk's rule, which also enters sockets and plugs
};

class WalkBelow : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkBelow, EntersShownObjectsAndStatelessSocketsOnly) {
    EXPECT_EQ(mayHoldFocusBelow(GetParam().states), GetParam().mayHoldFocus);
    EXPECT_EQ(walkBelow(GetParam().states), GetParam().walked);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WalkBelow,
    testing::Values(WalkCase{0, false, true}, // a socket or a plug: no state at all
                    WalkCase{1ull << atspi::kStateShowing, true, true},
                    WalkCase{1ull << atspi::kStateVisible, true, true},
                    // A closed menu: enabled and focusable, neither showing nor visible.
                    WalkCase{(1ull << 8) | (1ull << 11), false, false},
                    WalkCase{1ull << atspi::kStateFocused, false, false}));

// --- Focus from an application's object cache ------------------------------------------

constexpr std::uint64_t kShown = (1ull << atspi::kStateShowing) | (1ull << atspi::kStateVisible);
constexpr std::uint64_t kVisibleOnly = 1ull << atspi::kStateVisible;
constexpr std::uint64_t kFocusedState = kShown | (1ull << atspi::kStateFocused);

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
                   {"/gone", "/frame", kFocusedState | (1ull << atspi::kStateDefunct), true},
                   {"/button", "/frame", kFocusedState, false}},
                  {{"/button", 1}}},
        // A parent missing from the cache or a cycle of parents ends the climb.
        CacheCase{"brokenChainsLeftOut",
                  {{"/orphan", "/missing", kFocusedState, true},
                   {"/a", "/b", kFocusedState, true},
                   {"/b", "/a", kShown, false}},
                  {}},
        // Focused objects whose parents loop, beside the focus below the root: the loop is
        // climbed once and left out, the depths below shared ancestors stay right.
        CacheCase{"loopBesideTheFocus",
                  {{"/l1", "/l2", kFocusedState, true},
                   {"/l2", "/l3", kFocusedState, true},
                   {"/l3", "/l1", kFocusedState, true},
                   {"/panel", "/frame", kShown, false},
                   {"/field", "/panel", kFocusedState, true},
                   {"/inner", "/field", kFocusedState, true},
                   {"/hanging", "/l2", kFocusedState, true}},
                  {{"/field", 2}, {"/inner", 3}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
