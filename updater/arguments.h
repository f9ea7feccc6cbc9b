#pragma once
// The command line of update-assistant: target source parentID log, all positional.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The program path plus the four positional arguments.
constexpr std::size_t expectedArgumentCount = 5;

// A signed 32-bit decimal number with at most one leading sign and nothing else; 0 for any
// other text (empty, a sign alone, white space, out of range).
int32_t parseParentID(std::string_view text);

// The path of the file URL made from an argument: a relative path is resolved against the
// working directory; in the argument's own part, empty and "." segments are dropped and ".."
// removes the segment before it, for absolute and relative paths alike. The result never ends
// in a slash unless it is the root itself.
std::string fileURLPath(std::string_view argument, std::string_view workingDirectory);

// The exit status of a run that has its four arguments: what the body returns, and 0 when an
// exception escapes it (the assistant's only statuses are 0 and 2).
int exitStatusOf(const std::function<int()>& body) noexcept;
