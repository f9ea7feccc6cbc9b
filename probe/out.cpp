#include "out.h"

#include "utf.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <string_view>
#include <unistd.h>

namespace {

void appendEscaped(std::string& json, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    json.push_back('"');
    while (!text.empty()) {
        Decoded decoded = decodeUtf8(text);
        text.remove_prefix(decoded.bytes);
        char32_t c = decoded.codePoint;
        switch (c) {
        case '"':
            json += "\\\"";
            break;
        case '\\':
            json += "\\\\";
            break;
        case '/':
            json += "\\/";
            break;
        case '\b':
            json += "\\b";
            break;
        case '\f':
            json += "\\f";
            break;
        case '\n':
            json += "\\n";
            break;
        case '\r':
            json += "\\r";
            break;
        case '\t':
            json += "\\t";
            break;
        default:
            if (c < 0x20) {
                json += "\\u00";
                json.push_back(kHex[c >> 4]);
                json.push_back(kHex[c & 0xF]);
            } else {
                appendUtf8(json, c);
            }
        }
    }
    json.push_back('"');
}

// Shortest decimal form that reads back to the same double; integral values carry no ".0".
void appendNumber(std::string& json, double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    json.append(buffer, result.ptr);
}

void appendInteger(std::string& json, std::int64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    json.append(buffer, result.ptr);
}

void appendName(std::string& json, std::string_view name) {
    json.push_back(',');
    json.push_back('"');
    json += name;
    json += "\":";
}

bool hasFiniteGeometry(const Out& out) {
    if (!out.x || !out.y || !out.width || !out.height) return false;
    return std::isfinite(*out.x) && std::isfinite(*out.y) && std::isfinite(*out.width) &&
           std::isfinite(*out.height);
}

} // namespace

std::string encodeOut(const Out& out) {
    std::string json = out.trusted ? "{\"trusted\":true" : "{\"trusted\":false";
    if (out.selectedLength) {
        appendName(json, "selectedLength");
        appendInteger(json, *out.selectedLength);
    }
    if (hasFiniteGeometry(out)) {
        appendName(json, "x");
        appendNumber(json, *out.x);
        appendName(json, "y");
        appendNumber(json, *out.y);
        appendName(json, "width");
        appendNumber(json, *out.width);
        appendName(json, "height");
        appendNumber(json, *out.height);
    }
    if (out.text && !out.text->empty()) {
        appendName(json, "text");
        appendEscaped(json, *out.text);
    }
    json.push_back('}');
    return json;
}

bool writeOut(int fd, const Out& out) {
    const std::string json = encodeOut(out);
    std::string_view rest = json;
    while (!rest.empty()) {
        ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}
