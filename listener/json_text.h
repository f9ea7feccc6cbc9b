#pragma once
// JSON string literals in the form the host's reader expects.

#include <string>
#include <string_view>

// Appends text as a quoted JSON string: quote, backslash and solidus escaped ("\/"), control
// characters escaped, everything else (UTF-8 included) passed through unchanged.
void appendJsonString(std::string& json, std::string_view text);

// True when text is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no sequence cut short.
bool isWellFormedUtf8(std::string_view text);
