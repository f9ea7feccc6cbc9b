#pragma once
// Physical key positions to macOS virtual key codes (the layout-independent codes that the
// recognizers take). A position is a Linux evdev key code; an X key code is that code plus 8
// under the evdev keyboard rules.

#include <cstdint>
#include <optional>

// The macOS virtual key code of the key at this evdev position, or none for keys that have
// no counterpart on a Mac keyboard.
std::optional<int64_t> macKeyFromEvdev(unsigned evdevCode);

// The same for an X key code (8 to 255); none below 8.
std::optional<int64_t> macKeyFromXKeyCode(unsigned xKeyCode);
