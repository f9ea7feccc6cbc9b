#pragma once
// What the X display says about the session: the process that owns the window with the
// keyboard focus, where that window lies, and the accessibility bus address that the bus
// launcher publishes.

#include "accessibility.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <string>

struct DisplayFacts {
    std::optional<std::uint32_t> activeWindowPid;
    std::optional<AxRect> activeWindowBox; // its inside, in root coordinates
    std::optional<std::string> accessibilityBus;
};

// Reads them from the display named by DISPLAY, in the background from construction on;
// each answer is empty when there is no display, or when the display has not answered
// within the time-out given at construction (a server grabbed by another client answers
// nobody). The bus address is known before the window's facts, so that a connection to the
// bus can be made meanwhile. The active window is the window manager's _NET_ACTIVE_WINDOW,
// else (no window manager) the input focus, and its process is _NET_WM_PID of that window or
// of its nearest ancestor that has one.
class DisplayRead {
  public:
    explicit DisplayRead(int timeoutMs);
    // Each may be asked once.
    std::optional<std::string> accessibilityBus();
    // The facts without the bus address's.
    DisplayFacts facts();

  private:
    std::chrono::steady_clock::time_point until_;
    std::future<std::optional<std::string>> bus_;
    std::future<DisplayFacts> facts_;
};
