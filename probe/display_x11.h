#pragma once
// What the X display says about the session: the process that owns the window with the
// keyboard focus, where that window lies, and the accessibility bus address that the bus
// launcher publishes.

#include "accessibility.h"

#include <cstdint>
#include <optional>
#include <string>

struct DisplayFacts {
    std::optional<std::uint32_t> activeWindowPid;
    std::optional<AxRect> activeWindowBox; // its inside, in root coordinates
    std::optional<std::string> accessibilityBus;
};

// Reads both from the display named by DISPLAY; empty when there is none, or when the display
// has not answered within `timeoutMs` (a server grabbed by another client answers nobody).
// The active window is the window manager's _NET_ACTIVE_WINDOW, else (no window manager)
// the input focus, and its process is _NET_WM_PID of that window or of its nearest ancestor
// that has one.
DisplayFacts readDisplayFacts(int timeoutMs);
