#include "boxes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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
