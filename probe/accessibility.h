#pragma once
// The accessibility queries the probe makes, one operation per query. A platform layer
// implements them over its accessibility service; the decision logic knows nothing else.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// An element or value held by the caller until passed to `release`; 0 is the null reference.
using AxRef = std::uintptr_t;
inline constexpr AxRef kNullRef = 0;

// Accessibility value kinds, by their published type numbers.
inline constexpr int kAxPointType = 1;
inline constexpr int kAxSizeType = 2;
inline constexpr int kAxRectType = 3;
inline constexpr int kAxRangeType = 4;

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
// service's own offsets: the logic only hands it back to createRange.
struct AxRange {
    std::int64_t location = 0;
    std::int64_t length = 0;
};

// All calls are synchronous, on the calling thread, and never throw. A copy returns nullopt
// when the service reports failure, and kNullRef when it succeeds with no value; every
// non-null reference returned (copies, createSystemWide, createRange) is owned by the caller.
class Accessibility {
  public:
    virtual ~Accessibility() = default;

    virtual bool isProcessTrusted() = 0;
    virtual AxRef createSystemWide() = 0;
    virtual std::optional<AxRef> copyAttributeValue(AxRef element, std::string_view attribute) = 0;
    virtual std::optional<AxRef>
    copyParameterizedAttributeValue(AxRef element, std::string_view attribute, AxRef parameter) = 0;
    // True when the value is an accessibility value (point, size, rectangle or range).
    virtual bool isAccessibilityValue(AxRef value) = 0;
    // The type number of an accessibility value.
    virtual int valueType(AxRef value) = 0;
    // Each extraction succeeds only when the value holds that kind.
    virtual std::optional<AxPoint> pointValue(AxRef value) = 0;
    virtual std::optional<AxSize> sizeValue(AxRef value) = 0;
    virtual std::optional<AxRect> rectValue(AxRef value) = 0;
    virtual std::optional<AxRange> rangeValue(AxRef value) = 0;
    // The value as UTF-8 when it is a string; nullopt for any other kind.
    virtual std::optional<std::string> stringValue(AxRef value) = 0;
    // A new range value, or kNullRef when it cannot be made.
    virtual AxRef createRange(AxRange range) = 0;
    virtual void release(AxRef ref) = 0;
};

// The platform's accessibility service; never null.
std::unique_ptr<Accessibility> makeAccessibility();
