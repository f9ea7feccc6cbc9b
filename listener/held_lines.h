#pragma once
// Protocol lines held back for a moment and then passed on in order: the X11 event source holds
// the lines a key's raw event produces until that key's grabbed press is answered, so that a
// host never reads a line while the grab still keeps the focus from the focused window.
// Diagnostics pass at once.

#include "streams.h"

#include <string>
#include <vector>

class HeldLines final : public Streams {
  public:
    explicit HeldLines(Streams& to) : to_(to) {}

    void out(std::string_view line) override;
    void err(std::string_view line) override { to_.err(line); }
    OutputWatch watch() const override { return to_.watch(); }
    void ready(short revents) override { to_.ready(revents); }

    // Lines written from now on wait until release().
    void hold() { holding_ = true; }
    bool holdsLines() const { return !held_.empty(); }
    // Passes the waiting lines on, in order, and stops holding.
    void release();

  private:
    Streams& to_;
    bool holding_ = false;
    std::vector<std::string> held_;
};
