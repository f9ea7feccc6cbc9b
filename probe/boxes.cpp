#include "boxes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace {

bool fitsCoordinates(std::int64_t value) {
    return value >= INT32_MIN && value <= INT32_MAX;
}

} // namespace

std::optional<AxRect> normalisedBox(std::int32_t x, std::int32_t y, std::int32_t width,
                                    std::int32_t height) {
    const std::int64_t left = std::min<std::int64_t>(x, std::int64_t{x} + width);
    const std::int64_t top = std::min<std::int64_t>(y, std::int64_t{y} + height);
    const std::int64_t wide = std::abs(std::int64_t{width});
    const std::int64_t high = std::abs(std::int64_t{height});
    if (!fitsCoordinates(left) || !fitsCoordinates(top) || !fitsCoordinates(wide) ||
        !fitsCoordinates(high) || !fitsCoordinates(left + wide) || !fitsCoordinates(top + high))
        return std::nullopt;
    return AxRect{double(left), double(top), double(wide), double(high)};
}

std::optional<AxRect> boxFromEnds(const std::optional<AxRect>& first,
                                  const std::optional<AxRect>& last,
                                  const std::optional<AxRect>& element) {
    if (!first || !last || first->height <= 0 || last->height <= 0) return std::nullopt;
    double top = std::min(first->y, last->y);
    double bottom = std::max(first->y + first->height, last->y + last->height);
    double left = std::min(first->x, last->x);
    double right = std::max(first->x + first->width, last->x + last->width);
    bool oneLine = last->y < first->y + first->height / 2 && first->y < last->y + last->height / 2;
    if (!oneLine && element && element->width > 0) {
        left = std::min(left, element->x);
        right = std::max(right, element->x + element->width);
    }
    return AxRect{left, top, right - left, bottom - top};
}

std::optional<AxRect> placeOnScreen(AxRect box, const std::optional<AxRect>& window,
                                    bool windowRelative, bool clip) {
    if (!window) return box;
    if (windowRelative) {
        box.x += window->x;
        box.y += window->y;
    }
    if (!clip) return box;
    double left = std::max(box.x, window->x);
    double top = std::max(box.y, window->y);
    double right = std::min(box.x + box.width, window->x + window->width);
    double bottom = std::min(box.y + box.height, window->y + window->height);
    if (right < left || bottom < top) return std::nullopt;
    return AxRect{left, top, right - left, bottom - top};
}

namespace {

bool hasExtent(const AxRect& box) {
    return box.width > 0 || box.height > 0;
}

double right(const AxRect& box) {
    return box.x + box.width;
}

double bottom(const AxRect& box) {
    return box.y + box.height;
}

// Inside, edges included, with `slack` pixels of rounding allowed.
bool lies(const AxRect& inner, const AxRect& outer, double slack = 0) {
    return inner.x >= outer.x - slack && inner.y >= outer.y - slack &&
           right(inner) <= right(outer) + slack && bottom(inner) <= bottom(outer) + slack;
}

bool touches(const AxRect& a, const AxRect& b) {
    return a.x <= right(b) && b.x <= right(a) && a.y <= bottom(b) && b.y <= bottom(a);
}

bool onOneLine(const AxRect& first, const AxRect& last) {
    return last.y < first.y + first.height / 2 && first.y < last.y + last.height / 2;
}

// KDE's editors: the range's box is about its first line, its last character lies on a line
// below (characters 0 pixels high, at their line's top). The box then reaches down to that
// line, one line high (the step between the ends over the lines the text holds, else the box's
// height or that step where smaller), and
// spans the element's width where whole lines lie between.
AxRect reachingTheEnds(AxRect box, const AxRect& first, const AxRect& last,
                       const std::optional<AxRect>& element, int lines) {
    if (element && (!lies(first, *element, 1) || !lies(last, *element, 1))) return box;
    const double step = last.y - first.y;
    if (step < box.height / 2) return box;
    double line = last.height;
    if (line <= 0) line = lines >= 2 ? step / (lines - 1) : std::min(box.height, step);
    if (last.y + line <= bottom(box)) return box;
    const double top = std::min(box.y, first.y);
    const double low = last.y + line;
    double left = std::min(box.x, last.x);
    double wide = std::max(right(box), right(last));
    if (element && element->width > 0 && step >= 2 * line) {
        left = std::min(left, element->x);
        wide = std::max(wide, right(*element));
    }
    return AxRect{left, top, wide - left, low - top};
}

} // namespace

AxPoint elementRelativeShift(const AxRect& box, const std::optional<AxRect>& element) {
    if (!element || element->width <= 0 || element->height <= 0) return {};
    if (element->x == 0 && element->y == 0) return {};
    // Wholly outside, or reaching out on the left (Konsole's lines start at x 0), which a view
    // scrolled up or down never does; a few pixels of margin are the toolkit's own (kwrite's).
    constexpr double kMargin = 8;
    const bool leftOut = box.x < element->x - kMargin && !lies(box, *element, kMargin);
    if (touches(box, *element) && !leftOut) return {};
    AxRect moved{box.x + element->x, box.y + element->y, box.width, box.height};
    if (!lies(moved, *element)) return {};
    return AxPoint{element->x, element->y};
}

std::optional<AxRect> rangeBox(RangeAnswers answers) {
    if (!answers.range) {
        // GTK 4's text view measures no range, but its characters.
        if (!answers.first || !answers.last) return std::nullopt;
        const AxPoint shift = elementRelativeShift(*answers.first, answers.element);
        for (AxRect* box : {&*answers.first, &*answers.last}) {
            box->x += shift.x;
            box->y += shift.y;
        }
        return boxFromEnds(answers.first, answers.last, answers.element);
    }
    const AxPoint shift = elementRelativeShift(*answers.range, answers.element);
    for (std::optional<AxRect>* box : {&answers.range, &answers.first, &answers.last}) {
        if (!*box) continue;
        (*box)->x += shift.x;
        (*box)->y += shift.y;
    }
    const AxRect box = *answers.range;
    if (!hasExtent(box) || answers.oneCharacter || !answers.first || !answers.last) return box;
    const AxRect& first = *answers.first;
    const AxRect& last = *answers.last;
    if (first.height > 0 && last.height > 0 && onOneLine(first, last)) {
        // A container's box around one line: the line's own box, where it lies inside.
        std::optional<AxRect> ends = boxFromEnds(first, last, std::nullopt);
        bool tall = box.height > 2 * std::max(first.height, last.height);
        if (tall && ends && lies(*ends, box, 1)) return ends;
        return box;
    }
    return reachingTheEnds(box, first, last, answers.element, answers.lines);
}

std::optional<AxRect> unionOf(const std::vector<std::optional<AxRect>>& boxes) {
    std::optional<AxRect> all;
    for (const std::optional<AxRect>& box : boxes) {
        if (!box || !hasExtent(*box)) continue;
        if (!all) {
            all = box;
            continue;
        }
        double left = std::min(all->x, box->x);
        double top = std::min(all->y, box->y);
        double wide = std::max(right(*all), right(*box));
        double low = std::max(bottom(*all), bottom(*box));
        all = AxRect{left, top, wide - left, low - top};
    }
    return all;
}

std::optional<AxRect> windowInLogicalPixels(const std::optional<AxRect>& window,
                                            const std::optional<AxRect>& element) {
    if (!window || !element) return window;
    if (lies(AxRect{element->x, element->y, 0, 0}, *window, 1)) return window;
    // A scaled window holds its element whole; a corner alone could be a scrolled element's.
    for (int factor = 2; factor <= 4; ++factor) {
        AxRect scaled{window->x / factor, window->y / factor, window->width / factor,
                      window->height / factor};
        if (lies(*element, scaled, 1)) return scaled;
    }
    return window;
}
