#pragma once
// Finds the focused accessible object on the accessibility bus.

#include "bus_glib.h"

#include <optional>
#include <string>

// An accessible object: the bus name of its application and its object path.
struct AtspiObject {
    std::string bus;
    std::string path;
};

struct FocusSearch {
    bool answered = false;              // false when the registry could not be asked
    std::optional<AtspiObject> focused; // absent when no application has an active frame
};

// The focused object of the application whose frame is active: a Collection match for the
// focused state, or, where the application has no Collection, a walk of at most a few
// thousand showing objects. Each call is bounded by the deadline.
FocusSearch findFocusedObject(GDBusConnection* bus, const Deadline& deadline);
