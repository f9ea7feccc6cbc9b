#include "out.h"

#include "utf.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <string>
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

// A finite double's shortest round-trip digits: value = sign 0.digits x 10^point, with no
// leading or trailing zero in digits unless the value is zero ("0").
struct Decimal {
    bool negative = false;
    std::string digits;
    int point = 0;
};

// {fmt} gives the shortest round-trip digits, in a fixed or scientific layout of its choosing;
// both layouts are read back here, so the choice of layout below is ours alone.
Decimal shortestDecimal(double value) {
    char text[40];
    const auto written = fmt::format_to_n(text, sizeof text, "{}", value);
    std::string_view rest(text, written.out);
    Decimal decimal;
    if (rest.front() == '-') {
        decimal.negative = true;
        rest.remove_prefix(1);
    }
    int exponent = 0;
    if (const auto e = rest.find('e'); e != std::string_view::npos) {
        std::string_view digits = rest.substr(e + 1);
        if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
        std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        rest = rest.substr(0, e);
    }
    const auto dot = rest.find('.');
    const std::string_view whole = rest.substr(0, dot);
    decimal.digits = whole;
    if (dot != std::string_view::npos) decimal.digits += rest.substr(dot + 1);
    decimal.point = static_cast<int>(whole.size()) + exponent;
    while (decimal.digits.size() > 1 && decimal.digits.front() == '0') {
        decimal.digits.erase(0, 1);
        --decimal.point;
    }
    while (decimal.digits.size() > 1 && decimal.digits.back() == '0')
        decimal.digits.pop_back();
    return decimal;
}

std::string scientific(const Decimal& d) {
    std::string text = d.negative ? "-" : "";
    text += d.digits.front();
    if (d.digits.size() > 1) {
        text += '.';
        text.append(d.digits, 1);
    }
    const int exponent = d.digits == "0" ? 0 : d.point - 1;
    text += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) text += '0';
    text += std::to_string(magnitude);
    return text;
}

// An integral value whose shortest digits end before the units is written with its exact
// digits ("123456789012345683968", not "...680000"): same length, smallest difference.
std::string fixed(const Decimal& d, double value) {
    const int size = static_cast<int>(d.digits.size());
    if (d.digits != "0" && d.point >= size) return fmt::format("{:.0f}", value);
    std::string text = d.negative ? "-" : "";
    if (d.digits == "0") {
        text += '0';
    } else if (d.point > 0) {
        text.append(d.digits, 0, static_cast<std::size_t>(d.point));
        text += '.';
        text.append(d.digits, static_cast<std::size_t>(d.point));
    } else {
        text += "0.";
        text.append(static_cast<std::size_t>(-d.point), '0');
        text += d.digits;
    }
    return text;
}

// Shortest decimal form that reads back to the same double, fixed or scientific, whichever is
// shorter (fixed on a tie); integral values carry no ".0". The same bytes as the plain form of
// std::to_chars, which some systems the program supports do not have.
void appendNumber(std::string& json, double value) {
    const Decimal decimal = shortestDecimal(value);
    const std::string asFixed = fixed(decimal, value);
    const std::string asScientific = scientific(decimal);
    json += asFixed.size() <= asScientific.size() ? asFixed : asScientific;
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
