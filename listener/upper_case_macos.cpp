// macOS: upper-casing through CoreFoundation, which every Mac has.
#include "upper_case.h"

#include "json_text.h"

#include <CoreFoundation/CoreFoundation.h>

#include <memory>

namespace {

// Releases a CoreFoundation object at the end of its scope.
struct CFReleaser {
    void operator()(CFTypeRef object) const { CFRelease(object); }
};
using CFStringHolder = std::unique_ptr<const void, CFReleaser>;

} // namespace

std::optional<std::string> upperCased(std::string_view text) {
    if (text.empty()) return std::string();
    // Checked here, not left to CoreFoundation, so that both systems refuse the same texts.
    if (!isWellFormedUtf8(text)) return std::nullopt;
    CFStringRef source =
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
    if (source == nullptr) return std::nullopt;
    CFStringHolder sourceHolder(source);
    CFMutableStringRef upper = CFStringCreateMutableCopy(kCFAllocatorDefault, 0, source);
    if (upper == nullptr) return std::nullopt;
    CFStringHolder upperHolder(upper);
    // No locale: the full mapping, the same for every user ("ß" gives "SS").
    CFStringUppercase(upper, nullptr);
    const CFRange whole = CFRangeMake(0, CFStringGetLength(upper));
    CFIndex byteCount = 0;
    CFStringGetBytes(upper, whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &byteCount);
    std::string result(static_cast<size_t>(byteCount), '\0');
    CFIndex written = 0;
    const CFIndex converted =
        CFStringGetBytes(upper, whole, kCFStringEncodingUTF8, 0, false,
                         reinterpret_cast<UInt8*>(result.data()), byteCount, &written);
    if (converted != whole.length || written != byteCount) return std::nullopt;
    return result;
}
