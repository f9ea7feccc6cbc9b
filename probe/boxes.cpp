#include "boxes.h"

#include <algorithm>
#include <cstdlib>

AxRect normalisedBox(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    return AxRect{double(std::min(x, x + width)), double(std::min(y, y + height)),
                  double(std::abs(width)), double(std::abs(height))};
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
