// The accessibility queries over the macOS Accessibility API, through its C functions only.
// References handed out are CoreFoundation objects the caller owns (Copy/Create rule).

#include "accessibility.h"
#include "utf.h"

#include <ApplicationServices/ApplicationServices.h>

#include <vector>

namespace {

CFTypeRef asObject(AxRef ref) {
    return reinterpret_cast<CFTypeRef>(ref);
}
AxRef asRef(CFTypeRef object) {
    return reinterpret_cast<AxRef>(object);
}

bool isElement(AxRef ref) {
    return ref != kNullRef && CFGetTypeID(asObject(ref)) == AXUIElementGetTypeID();
}

bool isValue(AxRef ref) {
    return ref != kNullRef && CFGetTypeID(asObject(ref)) == AXValueGetTypeID();
}

AXUIElementRef asElement(AxRef ref) {
    return static_cast<AXUIElementRef>(asObject(ref));
}
AXValueRef asValue(AxRef ref) {
    return static_cast<AXValueRef>(asObject(ref));
}

// An attribute name as a CFString, released when the call is over.
class AttributeName {
  public:
    explicit AttributeName(std::string_view name)
        : string_(CFStringCreateWithBytes(
              kCFAllocatorDefault, reinterpret_cast<const UInt8*>(name.data()),
              static_cast<CFIndex>(name.size()), kCFStringEncodingUTF8, false)) {}
    AttributeName(const AttributeName&) = delete;
    AttributeName& operator=(const AttributeName&) = delete;
    ~AttributeName() {
        if (string_) CFRelease(string_);
    }
    CFStringRef get() const { return string_; }

  private:
    CFStringRef string_;
};

// Status 0 with the value (possibly null) in the slot is success; anything else is failure.
std::optional<AxRef> copied(AXError status, CFTypeRef value) {
    if (status != kAXErrorSuccess) {
        if (value) CFRelease(value);
        return std::nullopt;
    }
    return asRef(value);
}

// AXValueGetValue into a zero-initialised buffer; absent when the value holds another type.
template <class T>
std::optional<T> extract(AxRef ref, AXValueType type) {
    if (!isValue(ref)) return std::nullopt;
    T buffer{};
    if (!AXValueGetValue(asValue(ref), type, &buffer)) return std::nullopt;
    return buffer;
}

class MacAccessibility final : public Accessibility {
  public:
    // Asks the user nothing: no prompt option is passed.
    bool isProcessTrusted() override { return AXIsProcessTrusted(); }

    AxRef createSystemWide() override { return asRef(AXUIElementCreateSystemWide()); }

    std::optional<AxRef> copyAttributeValue(AxRef element, std::string_view attribute) override {
        AttributeName name(attribute);
        if (!isElement(element) || !name.get()) return std::nullopt;
        CFTypeRef value = nullptr;
        AXError status = AXUIElementCopyAttributeValue(asElement(element), name.get(), &value);
        return copied(status, value);
    }

    std::optional<AxRef> copyParameterizedAttributeValue(AxRef element, std::string_view attribute,
                                                         AxRef parameter) override {
        AttributeName name(attribute);
        if (!isElement(element) || !name.get() || parameter == kNullRef) return std::nullopt;
        CFTypeRef value = nullptr;
        AXError status = AXUIElementCopyParameterizedAttributeValue(asElement(element), name.get(),
                                                                    asObject(parameter), &value);
        return copied(status, value);
    }

    bool isAccessibilityValue(AxRef value) override { return isValue(value); }

    int valueType(AxRef value) override {
        return isValue(value) ? static_cast<int>(AXValueGetType(asValue(value))) : 0;
    }

    std::optional<AxPoint> pointValue(AxRef value) override {
        auto point = extract<CGPoint>(value, kAXValueTypeCGPoint);
        if (!point) return std::nullopt;
        return AxPoint{point->x, point->y};
    }

    std::optional<AxSize> sizeValue(AxRef value) override {
        auto size = extract<CGSize>(value, kAXValueTypeCGSize);
        if (!size) return std::nullopt;
        return AxSize{size->width, size->height};
    }

    // The CGRect accessors read a rectangle with negative extents in its normalised form.
    std::optional<AxRect> rectValue(AxRef value) override {
        auto rect = extract<CGRect>(value, kAXValueTypeCGRect);
        if (!rect) return std::nullopt;
        return AxRect{CGRectGetMinX(*rect), CGRectGetMinY(*rect), CGRectGetWidth(*rect),
                      CGRectGetHeight(*rect)};
    }

    std::optional<AxRange> rangeValue(AxRef value) override {
        auto range = extract<CFRange>(value, kAXValueTypeCFRange);
        if (!range) return std::nullopt;
        return AxRange{range->location, range->length};
    }

    // The string's UTF-16 units as UTF-8; a lone surrogate (a cut prefix) becomes U+FFFD.
    std::optional<std::string> stringValue(AxRef value) override {
        if (value == kNullRef || CFGetTypeID(asObject(value)) != CFStringGetTypeID()) {
            return std::nullopt;
        }
        auto string = static_cast<CFStringRef>(asObject(value));
        CFIndex length = CFStringGetLength(string);
        std::vector<UniChar> units(static_cast<std::size_t>(length));
        CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
        return utf8FromUtf16(std::u16string(units.begin(), units.end()));
    }

    AxRef createRange(AxRange range) override {
        CFRange created =
            CFRangeMake(static_cast<CFIndex>(range.location), static_cast<CFIndex>(range.length));
        return asRef(AXValueCreate(kAXValueTypeCFRange, &created));
    }

    void release(AxRef ref) override {
        if (ref != kNullRef) CFRelease(asObject(ref));
    }
};

} // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
    return std::make_unique<MacAccessibility>();
}
