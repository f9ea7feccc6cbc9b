#include "utf.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

unsigned byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

bool isContinuation(unsigned byte) {
    return (byte & 0xC0) == 0x80;
}

// Sequence length and the allowed range of the second byte for a lead byte (Unicode table 3-7).
struct Lead {
    std::size_t length;
    unsigned low;
    unsigned high;
    char32_t bits;
};

Lead leadOf(unsigned byte) {
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF, byte & 0x1Fu};
    if (byte == 0xE0) return {3, 0xA0, 0xBF, 0};
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF, byte & 0x0Fu};
    if (byte == 0xF0) return {4, 0x90, 0xBF, 0};
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF, byte & 0x07u};
    if (byte == 0xF4) return {4, 0x80, 0x8F, 4};
    return {0, 0, 0, 0};
}

} // namespace

Decoded decodeUtf8(std::string_view bytes) {
    unsigned first = byteAt(bytes, 0);
    if (first < 0x80) return {first, 1};
    // An encoded surrogate (CESU-8 or WTF-8 style) is one bad UTF-16 unit, so one U+FFFD.
    if (first == 0xED && bytes.size() >= 3 && byteAt(bytes, 1) >= 0xA0 &&
        byteAt(bytes, 1) <= 0xBF && isContinuation(byteAt(bytes, 2))) {
        return {kReplacement, 3};
    }
    Lead lead = leadOf(first);
    if (lead.length == 0) return {kReplacement, 1};
    char32_t codePoint = lead.bits;
    for (std::size_t i = 1; i < lead.length; ++i) {
        if (i >= bytes.size()) return {kReplacement, i};
        unsigned byte = byteAt(bytes, i);
        bool inRange = i == 1 ? (byte >= lead.low && byte <= lead.high) : isContinuation(byte);
        if (first == 0xED && i == 1 && byte > 0x9F) inRange = false;
        if (!inRange) return {kReplacement, i};
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    return {codePoint, lead.length};
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = kReplacement;
    }
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::string utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t unit = units[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            char32_t low = units[++i];
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            appendUtf8(out, unit); // a lone surrogate becomes U+FFFD here
        }
    }
    return out;
}

std::u16string utf16FromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        Decoded decoded = decodeUtf8(bytes);
        bytes.remove_prefix(decoded.bytes);
        if (decoded.codePoint >= 0x10000) {
            char32_t value = decoded.codePoint - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(decoded.codePoint));
        }
    }
    return out;
}

std::int64_t utf16Length(std::string_view bytes) {
    std::int64_t length = 0;
    while (!bytes.empty()) {
        Decoded decoded = decodeUtf8(bytes);
        bytes.remove_prefix(decoded.bytes);
        length += decoded.codePoint >= 0x10000 ? 2 : 1;
    }
    return length;
}

std::string utf16Prefix(std::string_view bytes, std::size_t units) {
    std::u16string all = utf16FromUtf8(bytes);
    if (all.size() > units) all.resize(units);
    return utf8FromUtf16(all);
}

std::size_t codePointCount(std::string_view bytes) {
    std::size_t count = 0;
    while (!bytes.empty()) {
        bytes.remove_prefix(decodeUtf8(bytes).bytes);
        ++count;
    }
    return count;
}

std::int64_t charactersCoveringUnits(std::string_view text, std::int64_t units) {
    std::int64_t covered = 0;
    std::int64_t characters = 0;
    bool afterSupplementary = false;
    while (!text.empty() && covered < units) {
        Decoded decoded = decodeUtf8(text);
        text.remove_prefix(decoded.bytes);
        bool padding = afterSupplementary && decoded.codePoint == 0xFEFF;
        if (!padding) covered += decoded.codePoint >= 0x10000 ? 2 : 1;
        afterSupplementary = decoded.codePoint >= 0x10000;
        ++characters;
    }
    return characters;
}

std::string withoutSupplementaryPadding(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool afterSupplementary = false;
    while (!text.empty()) {
        Decoded decoded = decodeUtf8(text);
        std::string_view bytes = text.substr(0, decoded.bytes);
        text.remove_prefix(decoded.bytes);
        bool padding = afterSupplementary && decoded.codePoint == 0xFEFF;
        if (!padding) out += bytes;
        afterSupplementary = decoded.codePoint >= 0x10000;
    }
    return out;
}

std::string_view firstCharacters(std::string_view bytes, std::size_t characters) {
    std::size_t used = 0;
    for (; characters > 0 && used < bytes.size(); --characters)
        used += decodeUtf8(bytes.substr(used)).bytes;
    return bytes.substr(0, used);
}

std::string withPlainLineBreaks(std::string_view text) {
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9: no other character holds these bytes in a
    // row, so bytes are replaced as they stand.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\xE2\x80") == 0 && i + 2 < text.size() &&
            (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += '\n';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
