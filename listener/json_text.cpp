#include "json_text.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unicase.h>
#include <unistr.h>

namespace {

void appendControl(std::string& json, unsigned char c) {
    switch (c) {
    case '\b':
        json += "\\b";
        return;
    case '\f':
        json += "\\f";
        return;
    case '\n':
        json += "\\n";
        return;
    case '\r':
        json += "\\r";
        return;
    case '\t':
        json += "\\t";
        return;
    default:
        break;
    }
    static constexpr char hex[] = "0123456789abcdef";
    json += "\\u00";
    json += hex[c >> 4];
    json += hex[c & 0xF];
}

} // namespace

void appendJsonString(std::string& json, std::string_view text) {
    json += '"';
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\' || c == '/') {
            json += '\\';
            json += ch;
        } else if (c < 0x20) {
            appendControl(json, c);
        } else {
            json += ch;
        }
    }
    json += '"';
}

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
