// Box arithmetic: toolkit extents, a long range's box from its ends, and a box on screen.

#include "boxes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

namespace {

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

// --- Extents and the screen -----------------------------------------------------------

std::tuple<double, double, double, double> edges(const AxRect& box) {
    return {box.x, box.y, box.width, box.height};
}

TEST(NormalisedBox, NegativeExtentsCountFromTheOtherEdge) {
    EXPECT_EQ(edges(*normalisedBox(10, 20, 30, 40)), std::make_tuple(10.0, 20.0, 30.0, 40.0));
    EXPECT_EQ(edges(*normalisedBox(10, 20, -30, -5)), std::make_tuple(-20.0, 15.0, 30.0, 5.0));
}

// Extents an application may answer that no 32-bit sum holds: no box, never a wrapped one.
TEST(NormalisedBox, ExtentsBeyondThirtyTwoBitsGiveNoBox) {
    EXPECT_FALSE(normalisedBox(INT32_MAX, 0, 1, 17));
    EXPECT_FALSE(normalisedBox(0, 0, INT32_MIN, 17));
    EXPECT_FALSE(normalisedBox(0, INT32_MIN, 10, -1));
    EXPECT_FALSE(normalisedBox(INT32_MIN, 0, INT32_MIN, 1));
    ASSERT_TRUE(normalisedBox(INT32_MAX - 1, 0, 1, 17));
    EXPECT_EQ(normalisedBox(INT32_MAX - 1, 0, 1, 17)->width, 1.0);
    EXPECT_FALSE(normalisedBox(INT32_MAX, 0, INT32_MIN, 5)); // 2^31 wide
}

struct ScreenCase {
    const char* name;
    AxRect box;
    std::optional<AxRect> window;
    bool windowRelative;
    bool clip;
    std::optional<AxRect> placed;
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
    *os << c.name;
}

const AxRect kWindow{100, 80, 640, 400};

const ScreenCase kScreenCases[] = {
    {"noWindowLeavesItAlone", {5, 6, 7, 8}, std::nullopt, true, true, AxRect{5, 6, 7, 8}},
    {"insideIsKept", {120, 90, 50, 17}, kWindow, false, true, AxRect{120, 90, 50, 17}},
    // GTK 4's corner of a text view, relative to its window.
    {"relativeCornerMoved", {12, 30, 0, 0}, kWindow, true, false, AxRect{112, 110, 0, 0}},
    // A one-line entry scrolled to its end: the part out of view is cut away.
    {"scrolledPartCut", {-16385, 88, 17116, 17}, kWindow, false, true, AxRect{100, 88, 631, 17}},
    {"movedThenCut", {600, 390, 100, 20}, kWindow, true, true, AxRect{700, 470, 40, 10}},
    {"whollyOutsideIsAbsent", {800, 90, 20, 17}, kWindow, false, true, std::nullopt},
};

class PlaceOnScreen : public testing::TestWithParam<ScreenCase> {};

TEST_P(PlaceOnScreen, MovesWindowRelativeBoxesAndCutsToTheWindow) {
    const ScreenCase& c = GetParam();
    std::optional<AxRect> placed = placeOnScreen(c.box, c.window, c.windowRelative, c.clip);
    ASSERT_EQ(placed.has_value(), c.placed.has_value());
    if (placed) {
        EXPECT_EQ(edges(*placed), edges(*c.placed));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PlaceOnScreen, testing::ValuesIn(kScreenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A range's box from the parts of the answer that are right --------------------------

struct RangeCase {
    const char* name;
    RangeAnswers answers;
    std::optional<AxRect> box;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.name;
}

const AxRect kTerminal{120, 132, 600, 400};
const AxRect kKwriteView{336, 216, 751, 517};

const RangeCase kRangeCases[] = {
    {"screenBoxKept",
     {AxRect{256, 150, 88, 18}, AxRect{256, 150, 8, 18}, AxRect{336, 150, 8, 18}, kTerminal},
     AxRect{256, 150, 88, 18}},
    // A terminal's extents relative to its widget, characters likewise.
    {"elementRelativeMoved",
     {AxRect{136, 18, 88, 18}, AxRect{136, 18, 8, 18}, AxRect{216, 18, 8, 18}, kTerminal},
     AxRect{256, 150, 88, 18}},
    // Konsole: a line from x 0, inside the element's rows.
    {"reachingOutOnTheLeftMoved",
     {AxRect{0, 216, 880, 18}, std::nullopt, std::nullopt, AxRect{268, 231, 904, 506}},
     AxRect{268, 447, 880, 18}},
    // A view scrolled down: its range reaches above the element; it is not moved.
    {"reachingOutAboveKept",
     {AxRect{336, 150, 200, 100}, std::nullopt, std::nullopt, kKwriteView},
     AxRect{336, 150, 200, 100}},
    // Outside the element but not inside it once moved: the toolkit's box stays (scrolled).
    {"scrolledAwayKept",
     {AxRect{136, 560, 88, 18}, std::nullopt, std::nullopt, kTerminal},
     AxRect{136, 560, 88, 18}},
    {"touchingKept",
     {AxRect{130, 120, 88, 18}, std::nullopt, std::nullopt, kTerminal},
     AxRect{130, 120, 88, 18}},
    {"elementAtOriginKept",
     {AxRect{10, 10, 50, 18}, std::nullopt, std::nullopt, AxRect{0, 0, 300, 300}},
     AxRect{10, 10, 50, 18}},
    // kwrite: two lines answered 21 high, characters 0 high at their lines' tops.
    {"kdeTwoLinesReachTheSecond",
     {AxRect{334, 214, 201, 21}, AxRect{379, 216, 7, 0}, AxRect{503, 234, 8, 0}, kKwriteView, false,
      2},
     AxRect{334, 214, 201, 38}},
    // Three lines: the step over the lines gives their height; the middle one spans the view.
    {"kdeThreeLinesSpanTheView",
     {AxRect{334, 214, 201, 39}, AxRect{379, 216, 7, 0}, AxRect{449, 252, 7, 0}, kKwriteView, false,
      3},
     AxRect{334, 214, 753, 56}},
    // A toolkit whose box holds both lines already.
    {"twoLinesAlreadyHeld",
     {AxRect{100, 100, 300, 36}, AxRect{100, 100, 8, 18}, AxRect{200, 118, 8, 18},
      AxRect{90, 90, 400, 300}},
     AxRect{100, 100, 300, 36}},
    // A last character far outside the element is not believed.
    {"endOutsideTheElementIgnored",
     {AxRect{334, 214, 201, 21}, AxRect{379, 216, 7, 0}, AxRect{503, 9000, 8, 0}, kKwriteView,
      false, 2},
     AxRect{334, 214, 201, 21}},
    // A container's box around one short line: the line's ends.
    {"containerBoxAroundOneLine",
     {AxRect{100, 357, 711, 405}, AxRect{100, 357, 16, 22}, AxRect{308, 357, 16, 22}, std::nullopt},
     AxRect{100, 357, 224, 22}},
    {"tallButEndsOutsideKept",
     {AxRect{100, 357, 711, 405}, AxRect{90, 357, 16, 22}, AxRect{308, 357, 16, 22}, std::nullopt},
     AxRect{100, 357, 711, 405}},
    // One embedded child: its character's box is not the child's text.
    {"oneCharacterKept",
     {AxRect{100, 357, 275, 57}, AxRect{100, 357, 16, 22}, AxRect{100, 357, 16, 22}, std::nullopt,
      true},
     AxRect{100, 357, 275, 57}},
    // Firefox's first zero box stays zero, so that it is read again.
    {"zeroBoxKept",
     {AxRect{0, 0, 0, 0}, AxRect{100, 357, 16, 22}, AxRect{308, 357, 16, 22}, std::nullopt},
     AxRect{0, 0, 0, 0}},
    // GTK 4's text view: no range box, its characters (in window coordinates) answered.
    {"noRangeBoxFromTheEnds",
     {std::nullopt, AxRect{1, 25, 10, 16}, AxRect{133, 25, 8, 16}, AxRect{1, 25, 398, 546}},
     AxRect{1, 25, 140, 16}},
    {"noRangeBoxNorEnds",
     {std::nullopt, AxRect{1, 25, 10, 16}, std::nullopt, std::nullopt},
     std::nullopt},
};

class RangeBox : public testing::TestWithParam<RangeCase> {};

TEST_P(RangeBox, BuildsTheBoxFromWhatIsRight) {
    const RangeCase& c = GetParam();
    std::optional<AxRect> box = rangeBox(c.answers);
    ASSERT_EQ(box.has_value(), c.box.has_value());
    if (box) {
        EXPECT_EQ(std::make_tuple(box->x, box->y, box->width, box->height),
                  std::make_tuple(c.box->x, c.box->y, c.box->width, c.box->height));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RangeBox, testing::ValuesIn(kRangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnionOf, HoldsEveryBoxWithAnExtent) {
    auto all = unionOf(
        {AxRect{101, 244, 70, 19}, std::nullopt, AxRect{0, 0, 0, 0}, AxRect{200, 265, 84, 19}});
    ASSERT_TRUE(all);
    EXPECT_EQ(std::make_tuple(all->x, all->y, all->width, all->height),
              std::make_tuple(101.0, 244.0, 183.0, 40.0));
    EXPECT_FALSE(unionOf({std::nullopt, AxRect{5, 5, 0, 0}}));
    EXPECT_FALSE(unionOf({}));
}

// --- The window in the toolkit's logical pixels -----------------------------------------

TEST(WindowInLogicalPixels, DividesByTheFactorThatHoldsTheElement) {
    const AxRect device{159, 95, 1280, 800};
    // GTK 3 at GDK_SCALE=2: the element at (79, 47) in logical pixels.
    auto halved = windowInLogicalPixels(device, AxRect{79, 47, 640, 34});
    ASSERT_TRUE(halved);
    EXPECT_EQ(std::make_tuple(halved->x, halved->y, halved->width, halved->height),
              std::make_tuple(79.5, 47.5, 640.0, 400.0));
    auto third = windowInLogicalPixels(AxRect{300, 300, 900, 600}, AxRect{100, 100, 300, 200});
    ASSERT_TRUE(third);
    EXPECT_EQ(third->width, 300.0);
    // At scale 1 the element lies in the window.
    EXPECT_EQ(windowInLogicalPixels(device, AxRect{200, 120, 300, 30})->width, 1280.0);
    // A scrolled element whose corner lies above the window, but which no factor holds.
    EXPECT_EQ(windowInLogicalPixels(device, AxRect{160, 60, 1200, 3000})->width, 1280.0);
    EXPECT_FALSE(windowInLogicalPixels(std::nullopt, AxRect{1, 1, 1, 1}));
    EXPECT_EQ(windowInLogicalPixels(device, std::nullopt)->x, 159.0);
}

} // namespace
