#include "arguments.h"

#include <limits>

int32_t parseParentID(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return 0;
    // Accumulate the magnitude in 64 bits and stop as soon as it leaves the 32-bit range.
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return 0;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

namespace {

// Appends the segments of a relative path, dropping empty and "." segments and letting ".."
// remove the segment before it, the way a relative URL reference is resolved against its base.
void appendResolved(std::string& base, std::string_view relative) {
    while (true) {
        const std::size_t slash = relative.find('/');
        const std::string_view segment = relative.substr(0, slash);
        if (segment == "..") {
            const std::size_t cut = base.find_last_of('/');
            base.erase(cut == std::string::npos ? 0 : cut);
        } else if (!segment.empty() && segment != ".") {
            base += '/';
            base += segment;
        }
        if (slash == std::string_view::npos) break;
        relative.remove_prefix(slash + 1);
    }
}

} // namespace

std::string fileURLPath(std::string_view argument, std::string_view workingDirectory) {
    std::string path;
    if (!argument.empty() && argument.front() == '/') {
        // Absolute paths lose "." and ".." exactly as relative ones do: "/A/Orlavo.app/." names
        // the bundle itself, never a place inside it.
        appendResolved(path, argument.substr(1));
    } else {
        path = workingDirectory;
        while (!path.empty() && path.back() == '/')
            path.pop_back();
        appendResolved(path, argument);
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    // push_back, not = "/": GCC 12 warns (-Wrestrict, falsely) on the assignment at -O3.
    if (path.empty()) path.push_back('/');
    return path;
}

int exitStatusOf(const std::function<int()>& body) noexcept {
    try {
        return body();
    } catch (...) {
        // The outcome is told by the log alone; an exception changes nothing about that.
        return 0;
    }
}
