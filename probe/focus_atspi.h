#pragma once
// Finds the focused accessible object on the accessibility bus.

#include "bus_glib.h"
#include "object_model.h"

#include <cstdint>
#include <optional>

struct FocusSearch {
    bool answered = false;              // false when the registry could not be asked
    std::optional<AtspiObject> focused; // absent when no application or object qualifies
};

// The focused object of the active application: the application owned by the process of the
// active window (`activeWindowPid`, when known), else the one marking a frame active. Within
// it, the deepest focused object with a Text interface, else the deepest focused object.
// Applications are asked in parallel and each call waits at most a fraction of the budget,
// so a frozen application costs only its own calls' time.
FocusSearch findFocusedObject(GDBusConnection* bus, const Deadline& deadline,
                              std::optional<std::uint32_t> activeWindowPid);
