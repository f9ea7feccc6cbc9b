// The accessibility questions over the macOS Accessibility API, through its C functions only.
// The layer owns every reference it obtains (Copy/Create rule): the system-wide and focused
// elements and the selection's value live as long as the layer, every other value as long as
// its question; all are released when the layer is destroyed, before the record is written.

#include "accessibility.h"
#include "utf.h"

#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Pauses before the selection is asked again of an application whose accessibility was just
// turned on (it builds its tree then): 330 ms in all, within the run's budget.
constexpr int kManualAccessibilityPausesMs[] = {30, 100, 200};

// One owned CoreFoundation reference, released once.
class CfHeld {
  public:
    CfHeld() = default;
    explicit CfHeld(CFTypeRef object) : object_(object) {}
    CfHeld(CfHeld&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    CfHeld& operator=(CfHeld&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    CfHeld(const CfHeld&) = delete;
    CfHeld& operator=(const CfHeld&) = delete;
    ~CfHeld() {
        if (object_) CFRelease(object_);
    }
    CFTypeRef get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    CFTypeRef object_ = nullptr;
};

// A copied attribute: absent when the call failed; the value may be null.
using Copied = std::optional<CfHeld>;

bool isElement(CFTypeRef object) {
    return object && CFGetTypeID(object) == AXUIElementGetTypeID();
}

bool isValue(CFTypeRef object) {
    return object && CFGetTypeID(object) == AXValueGetTypeID();
}

// Status 0 with the value (possibly null) in the slot is success; anything else is failure.
Copied copied(AXError status, CFTypeRef value) {
    if (status != kAXErrorSuccess) {
        if (value) CFRelease(value);
        return std::nullopt;
    }
    return CfHeld(value);
}

// Value decoders: AXValueGetValue into a zero-initialised buffer, absent when the value holds
// another type. `value` must already be known to be an accessibility value.
template <class T>
std::optional<T> extract(CFTypeRef value, AXValueType type) {
    T buffer{};
    if (!AXValueGetValue(static_cast<AXValueRef>(value), type, &buffer)) return std::nullopt;
    return buffer;
}

// The CGRect accessors read a rectangle with negative extents in its normalised form.
std::optional<AxRect> rectFrom(CFTypeRef value) {
    auto rect = extract<CGRect>(value, kAXValueTypeCGRect);
    if (!rect) return std::nullopt;
    return AxRect{CGRectGetMinX(*rect), CGRectGetMinY(*rect), CGRectGetWidth(*rect),
                  CGRectGetHeight(*rect)};
}

std::optional<AxPoint> pointFrom(CFTypeRef value) {
    auto point = extract<CGPoint>(value, kAXValueTypeCGPoint);
    if (!point) return std::nullopt;
    return AxPoint{point->x, point->y};
}

std::optional<AxSize> sizeFrom(CFTypeRef value) {
    auto size = extract<CGSize>(value, kAXValueTypeCGSize);
    if (!size) return std::nullopt;
    return AxSize{size->width, size->height};
}

// A range only from an accessibility value of the range type whose extraction succeeds.
std::optional<AxRange> rangeFrom(CFTypeRef value) {
    if (!isValue(value) || AXValueGetType(static_cast<AXValueRef>(value)) != kAXValueTypeCFRange) {
        return std::nullopt;
    }
    auto range = extract<CFRange>(value, kAXValueTypeCFRange);
    if (!range) return std::nullopt;
    return AxRange{range->location, range->length};
}

// The string's UTF-16 units as UTF-8; a lone surrogate (a cut prefix) becomes U+FFFD. Absent
// for a value that is no string.
std::optional<std::string> stringFrom(const Copied& value) {
    if (!value || !value->get() || CFGetTypeID(value->get()) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    auto string = static_cast<CFStringRef>(value->get());
    CFIndex length = CFStringGetLength(string);
    std::vector<UniChar> units(static_cast<std::size_t>(length));
    CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
    return utf8FromUtf16(std::u16string(units.begin(), units.end()));
}

// A new range value, or null when it cannot be made.
CfHeld rangeValue(AxRange range) {
    CFRange created =
        CFRangeMake(static_cast<CFIndex>(range.location), static_cast<CFIndex>(range.length));
    return CfHeld(AXValueCreate(kAXValueTypeCFRange, &created));
}

class MacAccessibility final : public Accessibility {
  public:
    // Asks the user nothing: no prompt option is passed.
    bool isTrusted() override { return AXIsProcessTrusted(); }

    bool findFocusedElement() override {
        systemWide_ = CfHeld(AXUIElementCreateSystemWide());
        Copied focused = copyAttribute(systemWide_.get(), CFSTR("AXFocusedUIElement"));
        if (!focused || !*focused) return false;
        focused_ = std::move(*focused);
        return true;
    }

    // Any value answered is kept as the selection to measure, also one that holds no range.
    // An element without one may belong to an application whose accessibility is off until an
    // assistive technology asks for it (Electron): it is asked for, and the selection again.
    // An application that did not answer in time (kAXErrorCannotComplete) is asked nothing more.
    std::optional<SelectedRange> selectedRange() override {
        AXError status = kAXErrorFailure;
        Copied value = copyAttribute(focused_.get(), CFSTR("AXSelectedTextRange"), &status);
        if ((!value || !*value) && status != kAXErrorCannotComplete &&
            turnOnManualAccessibility()) {
            for (int pause : kManualAccessibilityPausesMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause));
                if (!findFocusedElement()) break;
                value = copyAttribute(focused_.get(), CFSTR("AXSelectedTextRange"), &status);
                if ((value && *value) || status == kAXErrorCannotComplete) break;
            }
        }
        if (!value || !*value) return std::nullopt;
        selection_ = std::move(*value);
        return SelectedRange{rangeFrom(selection_.get())};
    }

    RangeText stringForRange(AxRange range) override {
        CfHeld parameter = rangeValue(range);
        if (!parameter) return {false, std::nullopt};
        return {true, stringFrom(copyParameterized(CFSTR("AXStringForRange"), parameter.get()))};
    }

    std::optional<std::string> selectedText() override {
        return stringFrom(copyAttribute(focused_.get(), CFSTR("AXSelectedText")));
    }

    std::optional<AxRect> boundsForRange(const MeasuredRange& range) override {
        CfHeld made;
        CFTypeRef parameter = selection_.get();
        if (const AxRange* own = std::get_if<AxRange>(&range)) {
            made = rangeValue(*own);
            parameter = made.get();
        }
        Copied value = copyParameterized(CFSTR("AXBoundsForRange"), parameter);
        if (!value || !isValue(value->get())) return std::nullopt;
        return rectFrom(value->get());
    }

    // A point only from an accessibility value; any other answer still counts as one.
    std::optional<ElementPosition> position() override {
        Copied value = copyAttribute(focused_.get(), CFSTR("AXPosition"));
        if (!value) return std::nullopt;
        ElementPosition position;
        if (isValue(value->get())) position.corner = pointFrom(value->get());
        return position;
    }

    std::optional<AxSize> size() override {
        Copied value = copyAttribute(focused_.get(), CFSTR("AXSize"));
        if (!value || !isValue(value->get())) return std::nullopt;
        return sizeFrom(value->get());
    }

  private:
    // Sets AXManualAccessibility on the focused application, as Electron documents for
    // assistive technology; true only when it was not on and the application took it. An
    // application without the attribute refuses the call and is left as it was. Unverified
    // on a Mac.
    bool turnOnManualAccessibility() {
        Copied application = copyAttribute(systemWide_.get(), CFSTR("AXFocusedApplication"));
        if (!application || !isElement(application->get())) return false;
        AXError status = kAXErrorFailure;
        Copied current = copyAttribute(application->get(), CFSTR("AXManualAccessibility"), &status);
        if (status == kAXErrorCannotComplete) return false;
        if (current && current->get() && CFEqual(current->get(), kCFBooleanTrue)) return false;
        auto element = static_cast<AXUIElementRef>(application->get());
        return AXUIElementSetAttributeValue(element, CFSTR("AXManualAccessibility"),
                                            kCFBooleanTrue) == kAXErrorSuccess;
    }

    // `answered`, when given, receives the call's status (kAXErrorFailure for a non-element).
    static Copied copyAttribute(CFTypeRef object, CFStringRef attribute,
                                AXError* answered = nullptr) {
        if (answered) *answered = kAXErrorFailure;
        if (!isElement(object)) return std::nullopt;
        auto element = static_cast<AXUIElementRef>(object);
        CFTypeRef value = nullptr;
        AXError status = AXUIElementCopyAttributeValue(element, attribute, &value);
        if (answered) *answered = status;
        return copied(status, value);
    }

    // Asked of the focused element.
    Copied copyParameterized(CFStringRef attribute, CFTypeRef parameter) const {
        if (!isElement(focused_.get()) || !parameter) return std::nullopt;
        auto element = static_cast<AXUIElementRef>(focused_.get());
        CFTypeRef value = nullptr;
        AXError status =
            AXUIElementCopyParameterizedAttributeValue(element, attribute, parameter, &value);
        return copied(status, value);
    }

    CfHeld systemWide_;
    CfHeld focused_;
    CfHeld selection_; // the selection's value as answered, the default bounds parameter
};

} // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
    return std::make_unique<MacAccessibility>();
}
