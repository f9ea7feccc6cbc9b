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
