#pragma once
// The status card as plain values: placement, frames, colours, fonts and fixed texts. Both the
// AppKit and the GTK layer draw from these; nothing here knows a toolkit.

#include <optional>
#include <string_view>

namespace card {

// A rectangle in points (one point is one pixel at scale 1).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// sRGB components in 0..1; alpha is always 1.
struct Rgb {
    double red = 0;
    double green = 0;
    double blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct ColourSet {
    Rgb card;
    Rgb primary;   // headline
    Rgb secondary; // caption, detail
    Rgb border;
    friend bool operator==(const ColourSet&, const ColourSet&) = default;
};

enum class Appearance { light, dark };
enum class Element { caption, headline, detail, bar };
enum class TextRole { primary, secondary };
// Numeric weights as in CSS; AppKit maps them to NSFontWeightRegular/Semibold/Bold.
enum class Weight { regular = 400, semibold = 600, bold = 700 };

struct Font {
    double size = 0; // points
    Weight weight = Weight::regular;
    friend bool operator==(const Font&, const Font&) = default;
};

inline constexpr double contentWidth = 360;
inline constexpr double contentHeight = 124;
inline constexpr double screenMargin = 22;
inline constexpr double cornerRadius = 16;
inline constexpr double borderWidth = 1;
// Used when the system reports no screen, in bottom-left coordinates.
inline constexpr Rect fallbackVisibleFrame{0, 0, 1200, 800};

// The product name in capitals, two spaces, U+00B7, two spaces, "PREVIEW" (19 bytes in UTF-8).
inline constexpr std::string_view captionText = "ORLAVO  \xC2\xB7  PREVIEW";
inline constexpr std::string_view initialHeadline = "Installing update";
inline constexpr std::string_view initialDetail = "Orlavo will reopen when it is ready.";
// The appearance names that AppKit answers with.
inline constexpr std::string_view darkAquaName = "NSAppearanceNameDarkAqua";
inline constexpr std::string_view aquaName = "NSAppearanceNameAqua";

// The window's content rectangle in screen coordinates with the origin at the bottom left:
// 22 points inside the right edge and 22 above the bottom edge of the visible frame.
Rect placement(std::optional<Rect> visibleFrame);

// The same placement for a desktop whose coordinates start at the top left (X11, GDK): the work
// area and the result are in those coordinates. Without a work area the fallback frame is used
// as if it filled a screen of its own height.
Rect placementTopLeft(std::optional<Rect> workArea, double screenHeight);

// Mirrors a rectangle between bottom-left and top-left coordinates inside a container of the
// given height; applying it twice gives the rectangle back.
Rect flipped(Rect rect, double containerHeight);

// Frames inside the 360x124 content: origin bottom left, y upwards (AppKit) ...
Rect frameBottomLeft(Element element);
// ... and origin top left, y downwards (GTK, X11).
Rect frameTopLeft(Element element);

// Only the three labels have a font and a text colour; the bar has neither.
std::optional<Font> fontOf(Element element);
std::optional<TextRole> textRoleOf(Element element);
std::optional<std::string_view> initialTextOf(Element element);

ColourSet colours(Appearance appearance);
Rgb textColour(const ColourSet& set, TextRole role);

// AppKit: the best match of the effective appearance among dark aqua and aqua (in that order);
// dark only when the match is dark aqua, light otherwise, also when nothing matched.
Appearance appearanceFromBestMatch(std::optional<std::string_view> bestMatch);

// Desktop settings (GTK): dark when the desktop prefers dark, or when the theme in force is named
// with the ":dark" variant (for instance "Adwaita:dark").
Appearance appearanceFromDesktop(bool prefersDark, std::string_view themeName);

} // namespace card
