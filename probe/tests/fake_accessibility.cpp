#include "fake_accessibility.h"

namespace {

std::string rangeText(AxRange range) {
    return "(" + std::to_string(range.location) + "," + std::to_string(range.length) + ")";
}

} // namespace

bool FakeAccessibility::isTrusted() {
    queries.push_back("trusted");
    return script_.trusted;
}

bool FakeAccessibility::findFocusedElement() {
    queries.push_back("focusedElement");
    return script_.focused;
}

std::optional<SelectedRange> FakeAccessibility::selectedRange() {
    queries.push_back("selectedRange");
    return script_.selectedRange;
}

RangeText FakeAccessibility::stringForRange(AxRange range) {
    queries.push_back("stringForRange " + rangeText(range));
    return script_.stringForRange;
}

std::optional<std::string> FakeAccessibility::selectedText() {
    queries.push_back("selectedText");
    return script_.selectedText;
}

std::optional<AxRect> FakeAccessibility::boundsForRange(const MeasuredRange& range) {
    const AxRange* own = std::get_if<AxRange>(&range);
    queries.push_back("boundsForRange " + (own ? rangeText(*own) : std::string("selection")));
    return script_.bounds;
}

std::optional<ElementPosition> FakeAccessibility::position() {
    queries.push_back("position");
    return script_.position;
}

std::optional<AxSize> FakeAccessibility::size() {
    queries.push_back("size");
    return script_.size;
}
