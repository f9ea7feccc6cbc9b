#pragma once
// JSON string literals in the form the host's reader expects.

#include <optional>
#include <string>
#include <string_view>

// Appends text as a quoted JSON string: quote, backslash and solidus escaped ("\/"), control
// characters escaped, everything else (UTF-8 included) passed through unchanged.
void appendJsonString(std::string& json, std::string_view text);

// Full, locale-independent Unicode upper-casing ("ß" gives "SS"). Nothing when the text is not
// valid UTF-8.
std::optional<std::string> upperCased(std::string_view text);
