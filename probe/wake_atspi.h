#pragma once
// Chromium (and applications built on it) exposes its windows with nothing in them until a
// client makes a call that only assistive technology makes; measured with Chromium 156:
// Accessible.GetAttributes or GetRelationSet on a window turns its whole tree on (pages
// included) at once, where GetChildren, GetRoleName and GetState do not.

#include "bus_glib.h"

#include <cstdint>
#include <optional>

// Asks GetAttributes of the windows with nothing in them (their child is the null object) of
// each application whose toolkit is Chromium (the one of the active window's process, when
// known): at most 64 applications and 64 windows of each, at most six round trips. True when a
// window was asked, that is when a search again may find more.
bool wakeChromium(GDBusConnection* bus, const Deadline& deadline,
                  std::optional<std::uint32_t> activeWindowPid);
