#pragma once
// The box arithmetic of the Linux layer, in one place: a toolkit's extents as a normalised
// box, a long range's box from its ends, and a box placed on the screen and cut to the focused
// window. Nothing here touches a bus or a display.

#include "accessibility.h"

#include <cstdint>
#include <optional>

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

// Where a box lies on screen, given the focused window's box: a window-relative box (GTK 4's)
// is moved by the window's origin; then, when `clip` asks, it is cut to the window, so that a
// part scrolled out of view or a placeholder taller than the window is not given. Absent when
// nothing of it lies inside the window. Without a window's box the box stays as it is.
std::optional<AxRect> placeOnScreen(AxRect box, const std::optional<AxRect>& window,
                                    bool windowRelative, bool clip);
