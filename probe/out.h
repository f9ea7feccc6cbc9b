#pragma once
// The selection report and its JSON form: compact, absent fields omitted, exact bytes.

#include <cstdint>
#include <optional>
#include <string>

struct Out {
    bool trusted = false;
    std::optional<std::int64_t> selectedLength;
    std::optional<double> x;
    std::optional<double> y;
    std::optional<double> width;
    std::optional<double> height;
    std::optional<std::string> text;
};

// The whole object as one compact JSON text without a line break. The four geometry members
// are written together or not at all; a geometry with a non-finite number is left out, since
// JSON has no form for it. Ill-formed UTF-8 in `text` is written as U+FFFD, so the result is
// always valid UTF-8 JSON.
std::string encodeOut(const Out& out);

// Encodes first, then writes the bytes to `fd` in one write (continued only after a partial
// write or an interruption). False when the descriptor cannot take them, e.g. a closed pipe.
bool writeOut(int fd, const Out& out);
