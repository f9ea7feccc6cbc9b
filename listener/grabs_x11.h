#pragma once
// The X11 event source's passive key grabs on the root window. Grabs that another client holds
// are refused by the server; they are asked for again, less often as time goes by, until they
// are obtained.

#include "intake_keys.h"

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// One passive grab on the root window: a key code under a modifier mask (or AnyModifier).
struct KeyGrab {
    unsigned code;
    unsigned modifiers;
    friend bool operator==(const KeyGrab&, const KeyGrab&) = default;
};

// The grabs that carry out the plan under the current key table: each request's key codes
// (never an fn key), under any modifiers or under each lock variant of the exact modifiers.
std::vector<KeyGrab> keyGrabsFor(const std::vector<GrabRequest>& plan, const XKeyTracker& keys,
                                 const XModifierMasks& masks);

// Synchronous passive grabs of key presses, held on one display connection.
class PassiveGrabs {
  public:
    void setDisplay(Display* display) { display_ = display; }

    // Holds exactly these grabs from now on. Grabs that stay are asked for again, never let go
    // first, so that no key slips through while the keymap changes. Gives the diagnostic line
    // when grabs are newly refused or all refused ones are now held.
    std::optional<std::string> replace(const std::vector<KeyGrab>& grabs);

    // Asks for the refused grabs again when a retry is due; gives the diagnostic line once
    // they are all held.
    std::optional<std::string> retryRefused();

    // How long poll() may wait before the next retry is due; -1 when none is.
    int msUntilRetry() const;

  private:
    std::vector<KeyGrab> tryGrabs(const std::vector<KeyGrab>& grabs);

    Display* display_ = nullptr;
    // Every grab asked for under the current keymap, held or refused.
    std::vector<KeyGrab> grabs_;
    // Grabs another client held when they were asked for, and when to ask again.
    std::vector<KeyGrab> refused_;
    std::chrono::milliseconds retryWait_{};
    std::chrono::steady_clock::time_point nextRetry_{};
};
