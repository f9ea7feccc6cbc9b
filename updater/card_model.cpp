#include "card_model.h"

namespace card {

Rect placement(std::optional<Rect> visibleFrame) {
    const Rect area = visibleFrame.value_or(fallbackVisibleFrame);
    const double right = area.x + area.width;
    const double bottom = area.y;
    return {right - contentWidth - screenMargin, bottom + screenMargin, contentWidth,
            contentHeight};
}

Rect flipped(Rect rect, double containerHeight) {
    return {rect.x, containerHeight - (rect.y + rect.height), rect.width, rect.height};
}

Rect placementTopLeft(std::optional<Rect> workArea, double screenHeight) {
    if (!workArea) {
        const double height = fallbackVisibleFrame.height;
        return flipped(placement(fallbackVisibleFrame), height);
    }
    return flipped(placement(flipped(*workArea, screenHeight)), screenHeight);
}

Rect frameBottomLeft(Element element) {
    switch (element) {
    case Element::caption:
        return {19, 89, 320, 18};
    case Element::headline:
        return {19, 59, 320, 27};
    case Element::detail:
        return {19, 40, 320, 20};
    case Element::bar:
        return {19, 20, 322, 5};
    }
    return {};
}

Rect frameTopLeft(Element element) {
    return flipped(frameBottomLeft(element), contentHeight);
}

std::optional<Font> fontOf(Element element) {
    switch (element) {
    case Element::caption:
        return Font{10, Weight::bold};
    case Element::headline:
        return Font{17, Weight::semibold};
    case Element::detail:
        return Font{12, Weight::regular};
    case Element::bar:
        break;
    }
    return std::nullopt;
}

std::optional<TextRole> textRoleOf(Element element) {
    switch (element) {
    case Element::headline:
        return TextRole::primary;
    case Element::caption:
    case Element::detail:
        return TextRole::secondary;
    case Element::bar:
        break;
    }
    return std::nullopt;
}

std::optional<std::string_view> initialTextOf(Element element) {
    switch (element) {
    case Element::caption:
        return captionText;
    case Element::headline:
        return initialHeadline;
    case Element::detail:
        return initialDetail;
    case Element::bar:
        break;
    }
    return std::nullopt;
}

ColourSet colours(Appearance appearance) {
    if (appearance == Appearance::dark) {
        return {{0.11, 0.09, 0.15}, {0.97, 0.94, 0.92}, {0.76, 0.72, 0.79}, {0.29, 0.25, 0.33}};
    }
    return {{1.00, 0.98, 0.96}, {0.17, 0.14, 0.24}, {0.43, 0.40, 0.45}, {0.86, 0.83, 0.81}};
}

Rgb textColour(const ColourSet& set, TextRole role) {
    return role == TextRole::primary ? set.primary : set.secondary;
}

Appearance appearanceFromBestMatch(std::optional<std::string_view> bestMatch) {
    return bestMatch == darkAquaName ? Appearance::dark : Appearance::light;
}

Appearance appearanceFromDesktop(bool prefersDark, std::string_view themeName) {
    return prefersDark || themeName.ends_with(":dark") ? Appearance::dark : Appearance::light;
}

} // namespace card
