#pragma once
// Upper-casing of key labels; one implementation per system (upper_case_linux.cpp,
// upper_case_macos.cpp), so that the shipped macOS program needs no library outside the system.

#include <optional>
#include <string>
#include <string_view>

// Full, locale-independent Unicode upper-casing ("ß" gives "SS"). Nothing when the text is not
// valid UTF-8.
std::optional<std::string> upperCased(std::string_view text);
