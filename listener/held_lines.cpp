#include "held_lines.h"

void HeldLines::out(std::string_view line) {
    if (holding_) {
        held_.emplace_back(line);
        return;
    }
    to_.out(line);
}

void HeldLines::release() {
    holding_ = false;
    std::vector<std::string> lines;
    lines.swap(held_);
    for (const std::string& line : lines)
        to_.out(line);
}
