#include "selection.h"

#include "utf.h"

#include <string>
#include <utility>

namespace {

// A string of at least one character counts as text.
bool isText(const std::optional<std::string>& text) {
    return text && !text->empty();
}

// The text as the record gives it: one line break for every toolkit's.
std::optional<std::string> recordText(std::optional<std::string> text) {
    if (!isText(text)) return std::nullopt;
    return withPlainLineBreaks(*text);
}

// True when the bounds of the range gave the geometry. A caret (zero width) is accepted.
bool readBounds(Accessibility& ax, const MeasuredRange& range, Out& out) {
    std::optional<AxRect> bounds = ax.boundsForRange(range);
    if (!bounds || !(bounds->height > 0 || bounds->width > 0)) return false;
    out.x = bounds->x;
    out.y = bounds->y;
    out.width = bounds->width;
    out.height = bounds->height;
    return true;
}

double clampExtent(double extent, double low, double high) {
    if (extent <= low) extent = low;
    if (extent > high) extent = high;
    return extent;
}

// A small box at the element's top-left corner, when the element says where it is. The size
// is asked whenever the position question got an answer, even one without a point.
void readElementBox(Accessibility& ax, Out& out) {
    std::optional<ElementPosition> position = ax.position();
    if (!position) return;
    std::optional<AxSize> extent = ax.size();
    if (!extent || !position->corner) return;
    out.x = position->corner->x;
    out.y = position->corner->y;
    out.width = clampExtent(extent->width, kFallbackMinWidth, kFallbackMaxWidth);
    out.height = clampExtent(extent->height, kFallbackMinHeight, kFallbackMaxHeight);
}

// Everything asked of the focused element, in order.
void readFocused(Accessibility& ax, Out& out) {
    std::optional<SelectedRange> selection = ax.selectedRange();
    std::optional<AxRange> range = selection ? selection->range : std::nullopt;
    if (range) out.selectedLength = range->length;
    // Whatever the element answered is measured, also a value that held no readable range.
    std::optional<MeasuredRange> measured;
    if (selection) measured = AnsweredSelection{};
    // A long selection is read and measured through its first units only.
    if (range && range->length > kLongSelectionThreshold) {
        AxRange prefix{range->location, kPrefixLength};
        RangeText read = ax.stringForRange(prefix);
        if (read.rangeMade) measured = prefix;
        out.text = recordText(std::move(read.text));
    }
    if (!out.text && (!out.selectedLength || *out.selectedLength <= kLongSelectionThreshold)) {
        out.text = recordText(ax.selectedText());
    }
    if (measured && readBounds(ax, *measured, out)) return;
    readElementBox(ax, out);
}

} // namespace

Out probeSelection(Accessibility& ax) {
    Out out;
    out.trusted = ax.isTrusted();
    if (!out.trusted || !ax.findFocusedElement()) return out;
    readFocused(ax, out);
    return out;
}
