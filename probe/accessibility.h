#pragma once
// The questions the probe asks the accessibility service, one operation each, in the order a
// run asks them. A platform layer answers them over its service and keeps whatever it needs
// between them (the focused element, the selection as answered); the decision logic knows
// nothing else.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

struct AxPoint {
    double x = 0;
    double y = 0;
};
struct AxSize {
    double width = 0;
    double height = 0;
};
// Normalised: x and y are the smaller edges, width and height are never negative.
struct AxRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};
// The length counts UTF-16 code units of the element's text. The location is in the
// service's own offsets: the logic only hands it back in a range of its own.
struct AxRange {
    std::int64_t location = 0;
    std::int64_t length = 0;
    bool operator==(const AxRange&) const = default;
};

// The focused element's answer for its selection: something to measure, whose range may be
// unreadable (a password field keeps it to itself; a service may answer another kind).
struct SelectedRange {
    std::optional<AxRange> range;
};

// What a bounds question measures: the selection as the element answered it, whatever that
// held, or a range of the logic's own (a long selection's first units).
struct AnsweredSelection {};
using MeasuredRange = std::variant<AnsweredSelection, AxRange>;

// The answer for the text of a range of the logic's own. `rangeMade` is false when the
// service cannot hold the range, so nothing was asked; `text` is absent when the question
// failed or its answer was no string.
struct RangeText {
    bool rangeMade = true;
    std::optional<std::string> text;
};

// The element's answer where it is; `corner` is absent when the answer held no point.
struct ElementPosition {
    std::optional<AxPoint> corner;
};

// All questions are synchronous, on the calling thread, and never throw. An absent result
// means the question failed or had no answer. The questions about the element are asked only
// after findFocusedElement found one.
class Accessibility {
  public:
    virtual ~Accessibility() = default;

    // True when this process may use the service; asks the user nothing.
    virtual bool isTrusted() = 0;
    // Finds the element that has the keyboard focus and keeps it for the questions below.
    virtual bool findFocusedElement() = 0;
    virtual std::optional<SelectedRange> selectedRange() = 0;
    virtual RangeText stringForRange(AxRange range) = 0;
    virtual std::optional<std::string> selectedText() = 0;
    virtual std::optional<AxRect> boundsForRange(const MeasuredRange& range) = 0;
    virtual std::optional<ElementPosition> position() = 0;
    virtual std::optional<AxSize> size() = 0;
};

// The platform's accessibility service; never null. Whatever it holds of the service is
// released when it is destroyed.
std::unique_ptr<Accessibility> makeAccessibility();
