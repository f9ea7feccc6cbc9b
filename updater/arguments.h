#pragma once
// The command line of update-assistant: target source parentID log, all positional.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The program path plus the four positional arguments.
constexpr std::size_t expectedArgumentCount = 5;

// True when the list holds the program path and exactly four arguments.
bool hasExpectedArgumentCount(const std::vector<std::string>& arguments);

// A signed 32-bit decimal number with at most one leading sign and nothing else; 0 for any
// other text (empty, a sign alone, white space, out of range).
int32_t parseParentID(std::string_view text);

// The path of the file URL made from an argument: a relative path is resolved against the
// working directory (with "." and ".." segments of the resolved part removed); the result never
// ends in a slash unless it is the root itself.
std::string fileURLPath(std::string_view argument, std::string_view workingDirectory);
