#include "card_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>

namespace {

using card::Appearance;
using card::Element;
using card::Rect;

struct PlacementCase {
    const char* name;
    std::optional<Rect> visibleFrame;
    Rect expected;
};

class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, SitsTwentyTwoPointsInsideTheLowerRightCorner) {
    EXPECT_EQ(card::placement(GetParam().visibleFrame), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Placement,
    testing::Values(
        PlacementCase{"menuBar", Rect{0, 0, 1440, 875}, {1058, 22, 360, 124}},
        PlacementCase{"noScreen", std::nullopt, {818, 22, 360, 124}},
        PlacementCase{"dockAtBottom", Rect{0, 70, 1440, 805}, {1058, 92, 360, 124}},
        PlacementCase{"dockAtRight", Rect{0, 0, 1380, 875}, {998, 22, 360, 124}},
        PlacementCase{"secondScreenRight", Rect{1440, 0, 1920, 1080}, {2978, 22, 360, 124}},
        PlacementCase{"screenBelow", Rect{200, -1080, 1920, 1055}, {1738, -1058, 360, 124}}),
    [](const auto& info) { return std::string(info.param.name); });

struct TopLeftCase {
    const char* name;
    std::optional<Rect> workArea;
    double screenHeight;
    Rect expected;
};

class PlacementTopLeft : public testing::TestWithParam<TopLeftCase> {};

TEST_P(PlacementTopLeft, MatchesTheBottomLeftPlacementFlipped) {
    const auto& c = GetParam();
    EXPECT_EQ(card::placementTopLeft(c.workArea, c.screenHeight), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTopLeft,
    testing::Values(
        TopLeftCase{"noPanels", Rect{0, 0, 1440, 900}, 900, {1058, 754, 360, 124}},
        TopLeftCase{"topPanel", Rect{0, 32, 1440, 868}, 900, {1058, 754, 360, 124}},
        TopLeftCase{"bottomPanel", Rect{0, 0, 1440, 852}, 900, {1058, 706, 360, 124}},
        TopLeftCase{"rightPanel", Rect{0, 0, 1380, 900}, 900, {998, 754, 360, 124}},
        // Primary monitor right of a taller one: the root is 1200 high, the monitor 900.
        TopLeftCase{"secondMonitor", Rect{1920, 0, 1440, 900}, 1200, {2978, 754, 360, 124}},
        TopLeftCase{"lowerMonitor", Rect{0, 300, 1440, 900}, 1200, {1058, 1054, 360, 124}},
        TopLeftCase{"noMonitor", std::nullopt, 900, {818, 654, 360, 124}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Flipped, IsItsOwnInverse) {
    const Rect r{19, 40, 320, 20};
    EXPECT_EQ(card::flipped(card::flipped(r, 124), 124), r);
    EXPECT_EQ(card::flipped(r, 124), (Rect{19, 64, 320, 20}));
}

struct FrameCase {
    Element element;
    Rect bottomLeft;
    Rect topLeft;
};

class Frames : public testing::TestWithParam<FrameCase> {};

TEST_P(Frames, InBothCoordinateSystems) {
    EXPECT_EQ(card::frameBottomLeft(GetParam().element), GetParam().bottomLeft);
    EXPECT_EQ(card::frameTopLeft(GetParam().element), GetParam().topLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, Frames,
    testing::Values(FrameCase{Element::caption, {19, 89, 320, 18}, {19, 17, 320, 18}},
                    FrameCase{Element::headline, {19, 59, 320, 27}, {19, 38, 320, 27}},
                    FrameCase{Element::detail, {19, 40, 320, 20}, {19, 64, 320, 20}},
                    FrameCase{Element::bar, {19, 20, 322, 5}, {19, 99, 322, 5}}));

TEST(Frames, EveryElementLiesInsideTheContent) {
    for (Element e : {Element::caption, Element::headline, Element::detail, Element::bar}) {
        const Rect f = card::frameTopLeft(e);
        EXPECT_GE(f.x, 0);
        EXPECT_GE(f.y, 0);
        EXPECT_LE(f.x + f.width, card::contentWidth);
        EXPECT_LE(f.y + f.height, card::contentHeight);
    }
}

TEST(Fonts, SizesWeightsAndColoursOfTheLabels) {
    using card::Font;
    using card::TextRole;
    using card::Weight;
    EXPECT_EQ(card::fontOf(Element::caption), (Font{10, Weight::bold}));
    EXPECT_EQ(card::fontOf(Element::headline), (Font{17, Weight::semibold}));
    EXPECT_EQ(card::fontOf(Element::detail), (Font{12, Weight::regular}));
    EXPECT_EQ(card::fontOf(Element::bar), std::nullopt);
    EXPECT_EQ(card::textRoleOf(Element::caption), TextRole::secondary);
    EXPECT_EQ(card::textRoleOf(Element::headline), TextRole::primary);
    EXPECT_EQ(card::textRoleOf(Element::detail), TextRole::secondary);
    EXPECT_EQ(card::textRoleOf(Element::bar), std::nullopt);
}

TEST(Texts, CaptionIsByteForByte) {
    const std::string expected = "ORLAVO  \xC2\xB7  PREVIEW";
    EXPECT_EQ(card::captionText, expected);
    EXPECT_EQ(card::captionText.size(), 19u);
    EXPECT_EQ(card::initialTextOf(Element::caption), expected);
    EXPECT_EQ(card::initialTextOf(Element::headline), "Installing update");
    EXPECT_EQ(card::initialTextOf(Element::detail), "Orlavo will reopen when it is ready.");
    EXPECT_EQ(card::initialTextOf(Element::bar), std::nullopt);
}

// WCAG 2's relative luminance and contrast ratio of sRGB colours.
double luminance(card::Rgb colour) {
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.red) + 0.7152 * linear(colour.green) +
           0.0722 * linear(colour.blue);
}
double contrast(card::Rgb a, card::Rgb b) {
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

class ColourSet : public testing::TestWithParam<Appearance> {};

// The headline at WCAG's enhanced level (7:1), the caption and detail at its minimum for small
// text (4.5:1), and the headline standing out more than they do.
TEST_P(ColourSet, TextIsReadableOnTheCard) {
    const card::ColourSet set = card::colours(GetParam());
    EXPECT_GE(contrast(set.primary, set.card), 7.0);
    EXPECT_GE(contrast(set.secondary, set.card), 4.5);
    EXPECT_GT(contrast(set.primary, set.card), contrast(set.secondary, set.card));
}

// The border (also the bar's track) is seen but stays quieter than any text; the bar's segment,
// in the secondary colour, shows on the track as a control must (3:1).
TEST_P(ColourSet, BorderIsFaintAndTheBarSegmentShowsOnItsTrack) {
    const card::ColourSet set = card::colours(GetParam());
    EXPECT_GT(contrast(set.border, set.card), 1.2);
    EXPECT_LT(contrast(set.border, set.card), contrast(set.secondary, set.card));
    EXPECT_GE(contrast(set.secondary, set.border), 3.0);
}

TEST_P(ColourSet, EachRoleHasAColourOfItsOwnAndTextRolesPickTheirs) {
    const card::ColourSet set = card::colours(GetParam());
    const card::Rgb roles[] = {set.card, set.primary, set.secondary, set.border};
    for (std::size_t i = 0; i < std::size(roles); ++i)
        for (std::size_t j = i + 1; j < std::size(roles); ++j)
            EXPECT_GT(contrast(roles[i], roles[j]), 1.2) << "roles " << i << " and " << j;
    EXPECT_EQ(card::textColour(set, card::TextRole::primary), set.primary);
    EXPECT_EQ(card::textColour(set, card::TextRole::secondary), set.secondary);
}

INSTANTIATE_TEST_SUITE_P(Appearances, ColourSet,
                         testing::Values(Appearance::light, Appearance::dark),
                         [](const auto& info) {
                             return std::string(info.param == Appearance::light ? "light" : "dark");
                         });

// Light: dark text on a light card; dark: the reverse, with no role shared between them.
TEST(Colours, LightAndDarkAreOpposites) {
    const card::ColourSet light = card::colours(Appearance::light);
    const card::ColourSet dark = card::colours(Appearance::dark);
    EXPECT_GT(luminance(light.card), 0.8);
    EXPECT_LT(luminance(dark.card), 0.05);
    EXPECT_LT(luminance(light.primary), luminance(light.card));
    EXPECT_GT(luminance(dark.primary), luminance(dark.card));
    EXPECT_NE(light.card, dark.card);
    EXPECT_NE(light.primary, dark.primary);
    EXPECT_NE(light.secondary, dark.secondary);
    EXPECT_NE(light.border, dark.border);
}

struct MatchCase {
    const char* name;
    std::optional<std::string> match;
    Appearance expected;
};

class BestMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(BestMatch, DarkOnlyForDarkAqua) {
    const auto& m = GetParam().match;
    const std::optional<std::string_view> view =
        m ? std::optional<std::string_view>(*m) : std::nullopt;
    EXPECT_EQ(card::appearanceFromBestMatch(view), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BestMatch,
    testing::Values(MatchCase{"darkAqua", "NSAppearanceNameDarkAqua", Appearance::dark},
                    MatchCase{"aqua", "NSAppearanceNameAqua", Appearance::light},
                    MatchCase{"noMatch", std::nullopt, Appearance::light},
                    MatchCase{"other", "NSAppearanceNameVibrantDark", Appearance::light},
                    MatchCase{"empty", "", Appearance::light}),
    [](const auto& info) { return std::string(info.param.name); });

struct DesktopCase {
    const char* name;
    bool prefersDark;
    const char* theme;
    Appearance expected;
};

class Desktop : public testing::TestWithParam<DesktopCase> {};

TEST_P(Desktop, DarkWhenPreferredOrThemeVariantIsDark) {
    const auto& c = GetParam();
    EXPECT_EQ(card::appearanceFromDesktop(c.prefersDark, c.theme), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Desktop,
    testing::Values(DesktopCase{"plain", false, "Adwaita", Appearance::light},
                    DesktopCase{"prefersDark", true, "Adwaita", Appearance::dark},
                    DesktopCase{"darkVariant", false, "Adwaita:dark", Appearance::dark},
                    DesktopCase{"both", true, "Adwaita:dark", Appearance::dark},
                    DesktopCase{"darkInMiddle", false, "Adwaita:dark:x", Appearance::light},
                    DesktopCase{"suffixWithoutColon", false, "Mydark", Appearance::light},
                    DesktopCase{"noTheme", false, "", Appearance::light}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
