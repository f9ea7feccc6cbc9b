#pragma once
// AT-SPI's object model as plain values: the reference to an accessible object, and the state
// and role numbers the probe reads. Shared by the Linux layer and its portable logic; the
// names it calls on the bus are in names_atspi.h.

#include <cstdint>
#include <string>

// An accessible object: the bus name of its application and its object path.
struct AtspiObject {
    std::string bus;
    std::string path;
    bool operator==(const AtspiObject&) const = default;
};

namespace atspi {

// State numbers (bits of a state set) and role numbers.
inline constexpr int kStateActive = 1;
inline constexpr int kStateDefunct = 6;
inline constexpr int kStateFocused = 12;
inline constexpr int kStateShowing = 25;
inline constexpr int kStateVisible = 30;
inline constexpr std::uint32_t kRoleListItem = 32;
inline constexpr std::uint32_t kRolePasswordText = 40;

} // namespace atspi

inline bool hasState(std::uint64_t states, int state) {
    return (states >> state) & 1u;
}
