#pragma once
// The box arithmetic of the Linux layer, in one place: a toolkit's extents as a normalised
// box, a long range's box from its ends, and a box placed on the screen and cut to the focused
// window. Nothing here touches a bus or a display.

#include "accessibility.h"

#include <cstdint>
#include <optional>
#include <vector>

// A toolkit's (x, y, width, height), normalised: negative extents count from the other edge.
// Computed in 64 bits; absent when a corner of the box lies outside 32-bit coordinates, which
// no screen has (an application may answer anything).
std::optional<AxRect> normalisedBox(std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height);

// The box of a long range from the boxes of its first and last characters and of its
// element. On one line it is the union of the two characters; over several lines it reaches
// from the first line's top to the last line's bottom across the element's width, which the
// lines between fill. Absent when either character has no height (a box not laid out yet):
// the range is then measured whole.
std::optional<AxRect> boxFromEnds(const std::optional<AxRect>& first,
                                  const std::optional<AxRect>& last,
                                  const std::optional<AxRect>& element);

// What a toolkit answered for a non-empty range: its extents, those of its first and last
// characters, and the element's box; each absent where not given.
struct RangeAnswers {
    std::optional<AxRect> range;
    std::optional<AxRect> first;
    std::optional<AxRect> last;
    std::optional<AxRect> element;
    bool oneCharacter = false; // first and last are the same character
    int lines = 0;             // lines of the range's text (line breaks + 1); 0 when not known
};

// The offset that puts a toolkit's boxes on the screen where they are plainly relative to the
// element (a terminal's): the box lies wholly outside the element or reaches out of it on the
// left (by more than a margin of 8 pixels), and moved by the element's origin it lies wholly
// inside. (0, 0) otherwise.
AxPoint elementRelativeShift(const AxRect& box, const std::optional<AxRect>& element);

// The box of a range from the parts of the answer that are right. Boxes plainly relative to
// the element are moved onto the screen. A range whose last character lies below its box (KDE's
// editors answer one line whatever the lines) reaches down to that line, and up to the first
// character's; a range over one line whose box is taller than two of its lines (a container's
// box) is the union of its ends. A box without extent is kept as it is (a toolkit's box not
// laid out yet). Without a range box the box is made from the ends (see boxFromEnds).
std::optional<AxRect> rangeBox(RangeAnswers answers);

// The smallest box holding every box given with an extent; absent when none has one.
std::optional<AxRect> unionOf(const std::vector<std::optional<AxRect>>& boxes);

// The focused window's box in the toolkit's logical pixels. X11 gives device pixels, which a
// toolkit scaled by a whole factor (GTK 3 with GDK_SCALE) divides: the factor is the least of
// 1 to 4 at which the element's top-left corner lies inside the window (one pixel of rounding
// allowed). Without an element, or where no factor fits, the window stays as it is.
std::optional<AxRect> windowInLogicalPixels(const std::optional<AxRect>& window,
                                            const std::optional<AxRect>& element);

// Where a box lies on screen, given the focused window's box: a window-relative box (GTK 4's)
// is moved by the window's origin; then, when `clip` asks, it is cut to the window, so that a
// part scrolled out of view or a placeholder taller than the window is not given. Absent when
// nothing of it lies inside the window. Without a window's box the box stays as it is.
std::optional<AxRect> placeOnScreen(AxRect box, const std::optional<AxRect>& window,
                                    bool windowRelative, bool clip);
