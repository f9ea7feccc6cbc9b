#include "card_model.h"

#include <gtest/gtest.h>

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

TEST(Colours, LightAndDarkSets) {
    const card::ColourSet light{
        {1.00, 0.98, 0.96}, {0.17, 0.14, 0.24}, {0.43, 0.40, 0.45}, {0.86, 0.83, 0.81}};
    const card::ColourSet dark{
        {0.11, 0.09, 0.15}, {0.97, 0.94, 0.92}, {0.76, 0.72, 0.79}, {0.29, 0.25, 0.33}};
    EXPECT_EQ(card::colours(Appearance::light), light);
    EXPECT_EQ(card::colours(Appearance::dark), dark);
    EXPECT_EQ(card::textColour(dark, card::TextRole::primary), dark.primary);
    EXPECT_EQ(card::textColour(dark, card::TextRole::secondary), dark.secondary);
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
