#pragma once
// The listener state: module-level variables, touched only by the main thread.

#include "binding.h"
#include "lock_state.h"

#include <cstdint>
#include <functional>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Hashes std::string and std::string_view alike, so look-ups need no allocation. FNV-1a:
// action names are short, and this runs for every binding on every key event.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const noexcept {
        uint64_t hash = 14695981039346656037ull;
        for (unsigned char c : name)
            hash = (hash ^ c) * 1099511628211ull;
        return static_cast<size_t>(hash);
    }
};
// Its nodes come from a pool that keeps freed nodes, so arming and disarming do not reach the
// heap once the set has been as large as it gets.
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};
using NameSet = std::pmr::unordered_set<std::pmr::string, NameHash, NameEqual>;

// Event types and flag bits, in the numbering of Quartz event services.
inline constexpr int32_t kKeyDown = 10;
inline constexpr int32_t kKeyUp = 11;
inline constexpr int32_t kFlagsChanged = 12;

inline constexpr uint64_t kFlagCapsLock = 0x10000;
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;
inline constexpr uint64_t kFlagFn = 0x800000;

inline constexpr int64_t kKeyEscape = 53;

extern int64_t globeKey;
extern int64_t capsKey;
extern bool optionAlias;
extern bool selfTesting;
extern std::vector<std::string> observed;
extern std::vector<bool> restoredStates;
// The lock-state connection; null means none.
extern LockState* hidConnection;
extern bool capsLock;
extern bool recording;
extern BindingMap bindings;
extern NameSet customArmed;
extern int64_t recordingWeight;
extern bool globeDown;
extern bool fnCmdArmed;
extern bool translateArmed;
// Key down, key up and flags changed.
inline constexpr uint64_t mask = 0x1C00;

// Puts every variable back to its value before start-up (tests start from here).
void resetListenerState();
