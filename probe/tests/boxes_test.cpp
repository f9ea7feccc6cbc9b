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

} // namespace
