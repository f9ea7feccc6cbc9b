#pragma once
// Key events as the recognizers see them: event types, flag bits and key codes in the
// numbering of Quartz event services, on every system.

#include <cstdint>

// Event types.
inline constexpr int32_t kKeyDown = 10;
inline constexpr int32_t kKeyUp = 11;
inline constexpr int32_t kFlagsChanged = 12;

// Flag bits.
inline constexpr uint64_t kFlagCapsLock = 0x10000;
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;
inline constexpr uint64_t kFlagFn = 0x800000;

// Key codes.
inline constexpr int64_t kKeyEscape = 53;

// Key down, key up and flags changed.
inline constexpr uint64_t mask = 0x1C00;
