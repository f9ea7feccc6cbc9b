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

// True for the modifier keys 54 to 63 (Command, Shift, Caps Lock, Option, Control, fn), whose
// changes the listener reports as flags-changed events.
bool isModifierKey(int64_t macKey);

inline constexpr int64_t kMacKeyCapsLock = 57;
inline constexpr int64_t kMacKeyFn = 63;
inline constexpr int64_t kMacKeyEscape = 53;
inline constexpr int64_t kMacKeyCommand = 55;
inline constexpr int64_t kMacKeyRightCommand = 54;
inline constexpr int64_t kMacKeyShift = 56;
inline constexpr int64_t kMacKeyRightShift = 60;
inline constexpr int64_t kMacKeyOption = 58;
inline constexpr int64_t kMacKeyRightOption = 61;
inline constexpr int64_t kMacKeyControl = 59;
inline constexpr int64_t kMacKeyRightControl = 62;
