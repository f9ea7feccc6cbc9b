#pragma once
// The keyboard's Caps Lock lock state, as the platform keeps it.

#include <cstdint>
#include <memory>
#include <optional>

class LockState {
  public:
    virtual ~LockState() = default;
    // The current Caps Lock lock state, or nothing when it cannot be read.
    virtual std::optional<bool> capsLocked() = 0;
    // Asks for the Caps Lock lock state; true when the request was accepted.
    virtual bool setCapsLocked(bool on) = 0;
};

// Opens the platform's lock-state connection, or gives null when there is none.
std::unique_ptr<LockState> openLockState();

// The session's current modifier flags in the listener's flag bits (event_codes.h); 0 when the
// platform cannot tell.
uint64_t sessionFlags();
