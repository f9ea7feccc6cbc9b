// Linux: upper-casing through libunistring.
#include "upper_case.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unicase.h>
#include <unistr.h>

std::optional<std::string> upperCased(std::string_view text) {
    if (text.empty()) return std::string();
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (u8_check(bytes, text.size()) != nullptr) return std::nullopt;
    size_t length = 0;
    // No language: the locale-independent mapping. No normalization of the result.
    auto* upper = u8_toupper(bytes, text.size(), nullptr, nullptr, nullptr, &length);
    if (upper == nullptr) return std::nullopt;
    std::unique_ptr<uint8_t, decltype(&std::free)> owned(upper, &std::free);
    return std::string(reinterpret_cast<const char*>(upper), length);
}
