#include "json_text.h"

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

namespace {

// The length of the well-formed sequence that starts at text[i], or 0.
size_t sequenceLength(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (k == 1 ? (byte < low || byte > high) : (byte < 0x80 || byte > 0xBF)) return 0;
    }
    return length;
}

} // namespace

bool isWellFormedUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}
