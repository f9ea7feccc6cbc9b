#pragma once
// The focused element's selection over AT-SPI, read once a run with everything the run may
// ask of it (its text and box in the same batch), and read again while a toolkit's first
// answer is incomplete.

#include "accessibility.h"
#include "bus_glib.h"
#include "object_model.h"

#include <cstdint>
#include <optional>
#include <string>

// What the reads of one run share: the accessibility bus, the run's deadline, and the process
// of the active window (for finding the focus again).
struct AtspiRun {
    GDBusConnection* bus = nullptr;
    const Deadline* deadline = nullptr;
    std::optional<std::uint32_t> activeWindowPid;
};

// A selection as read. Offsets are the element's characters; `length` counts UTF-16 units
// once the text is read (else characters, for a selection too long to read).
struct SelectionRead {
    AtspiObject object; // the object read: the focused one, or the one focused by now
    std::int64_t charStart = 0;
    std::int64_t charEnd = 0;
    std::int64_t length = 0;
    std::optional<std::string> text; // with embedded objects replaced by their text
    std::optional<std::string> raw;  // a long selection's text as the toolkit gave it
    bool assembled = false;          // the text came from embedded children too
    bool secret = false;             // a password field: neither text nor length leave
    std::optional<AxRect> extents;   // the box of [charStart, charEnd), when asked
    bool extentsAsked = false;       // asked with the text: a failure is not asked again
    std::optional<AxRect> element;   // the element's box, asked with the range's
    bool windowRelative = false;     // the toolkit's positions are relative to its window
};

// The selection of `element`, or of the object that has the focus now where the element's
// answer stays without a box (Firefox may still name the object that had the focus). Absent
// when no read gave offsets. A read again that fails keeps what was read before.
std::optional<SelectionRead> readSelection(const AtspiRun& run, const AtspiObject& element);
