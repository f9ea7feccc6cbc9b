#include "selection.h"

#include <string>

namespace {

// Owns one reference and releases it when it goes out of scope.
class Held {
  public:
    Held(Accessibility& ax, AxRef ref) : ax_(ax), ref_(ref) {}
    explicit Held(Accessibility& ax, std::optional<AxRef> copied)
        : Held(ax, copied.value_or(kNullRef)) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (ref_ != kNullRef) ax_.release(ref_);
    }
    AxRef get() const { return ref_; }
    explicit operator bool() const { return ref_ != kNullRef; }

  private:
    Accessibility& ax_;
    AxRef ref_;
};

std::optional<AxRange> rangeFrom(Accessibility& ax, AxRef from) {
    if (!ax.isAccessibilityValue(from) || ax.valueType(from) != kAxRangeType) return std::nullopt;
    return ax.rangeValue(from);
}

// A string of at least one character, else nothing.
std::optional<std::string> textFrom(Accessibility& ax, const Held& value) {
    if (!value) return std::nullopt;
    std::optional<std::string> text = ax.stringValue(value.get());
    if (!text || text->empty()) return std::nullopt;
    return text;
}

void readPrefix(Accessibility& ax, AxRef focused, AxRef prefixRange, Out& out) {
    Held value(ax, ax.copyParameterizedAttributeValue(focused, "AXStringForRange", prefixRange));
    if (auto text = textFrom(ax, value)) out.text = std::move(*text);
}

void readSelectedText(Accessibility& ax, AxRef focused, Out& out) {
    Held value(ax, ax.copyAttributeValue(focused, "AXSelectedText"));
    if (auto text = textFrom(ax, value)) out.text = std::move(*text);
}

// True when the bounds of the range gave the geometry. A caret (zero width) is accepted.
bool readBounds(Accessibility& ax, AxRef focused, AxRef boundsParameter, Out& out) {
    Held value(ax,
               ax.copyParameterizedAttributeValue(focused, "AXBoundsForRange", boundsParameter));
    if (!value || !ax.isAccessibilityValue(value.get())) return false;
    std::optional<AxRect> bounds = rectFrom(ax, value.get());
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

// A small box at the element's top-left corner, when the element reports where it is.
void readElementBox(Accessibility& ax, AxRef focused, Out& out) {
    std::optional<AxRef> positionCopy = ax.copyAttributeValue(focused, "AXPosition");
    if (!positionCopy) return;
    Held position(ax, *positionCopy);
    std::optional<AxRef> sizeCopy = ax.copyAttributeValue(focused, "AXSize");
    if (!sizeCopy) return;
    Held size(ax, *sizeCopy);
    if (!position || !size) return;
    if (!ax.isAccessibilityValue(position.get()) || !ax.isAccessibilityValue(size.get())) return;
    std::optional<AxPoint> corner = pointFrom(ax, position.get());
    if (!corner) return;
    std::optional<AxSize> extent = sizeFrom(ax, size.get());
    if (!extent) return;
    out.x = corner->x;
    out.y = corner->y;
    out.width = clampExtent(extent->width, kFallbackMinWidth, kFallbackMaxWidth);
    out.height = clampExtent(extent->height, kFallbackMinHeight, kFallbackMaxHeight);
}

// Everything asked of the focused element, in order. References die with this frame.
void readFocused(Accessibility& ax, AxRef focused, Out& out) {
    Held selection(ax, ax.copyAttributeValue(focused, "AXSelectedTextRange"));
    std::optional<AxRange> range;
    if (selection) range = rangeFrom(ax, selection.get());
    if (range) out.selectedLength = range->length;
    // A long selection is read and measured through its first units only.
    bool isLong = range && range->length > kLongSelectionThreshold;
    Held prefix(ax, isLong ? ax.createRange({range->location, kPrefixLength}) : kNullRef);
    AxRef boundsParameter = prefix ? prefix.get() : selection.get();
    if (prefix) readPrefix(ax, focused, prefix.get(), out);
    if (!out.text && (!out.selectedLength || *out.selectedLength <= kLongSelectionThreshold)) {
        readSelectedText(ax, focused, out);
    }
    if (boundsParameter != kNullRef && readBounds(ax, focused, boundsParameter, out)) return;
    readElementBox(ax, focused, out);
}

} // namespace

std::optional<AxRect> rectFrom(Accessibility& ax, AxRef from) {
    return ax.rectValue(from);
}
std::optional<AxPoint> pointFrom(Accessibility& ax, AxRef from) {
    return ax.pointValue(from);
}
std::optional<AxSize> sizeFrom(Accessibility& ax, AxRef from) {
    return ax.sizeValue(from);
}

Out probeSelection(Accessibility& ax) {
    Out out;
    out.trusted = ax.isProcessTrusted();
    if (!out.trusted) return out;
    Held systemWide(ax, ax.createSystemWide());
    if (!systemWide) return out;
    Held focused(ax, ax.copyAttributeValue(systemWide.get(), "AXFocusedUIElement"));
    if (!focused) return out;
    readFocused(ax, focused.get(), out);
    return out;
}
