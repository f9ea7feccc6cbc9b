#pragma once
// The decisions of the macOS event sources, as plain functions over plain values, so that they
// run and are tested without Quartz or AppKit. The platform layer supplies the event's fields
// through KeyEventView and the side effects through IntakeHost.

#include "event_codes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// AppKit event type raw value -> Quartz event type: key down, key up and flags changed have the
// same raw values in both and map to themselves, every other value to none.
std::optional<int32_t> typeFromNS(uint64_t nsType);

// AppKit modifier flags -> Quartz event flags: the six shared bits (kModifierFlags) are kept,
// every other bit (numeric pad, help, device-dependent bits) is dropped.
uint64_t flagsFromNS(uint64_t nsFlags);

// Whether macOS marks this key's key-down and key-up events with the fn flag although fn is not
// held: F1 to F20, the four arrows, Home, End, Page Up, Page Down, Forward Delete and Help
// (virtual key codes).
bool systemMarksWithFn(int64_t keyCode);

// Whether the fn key is down, as its own flags-changed events tell, and the flags the
// recognizers get for each event: on those keys' key-down and key-up the fn flag stays only
// while fn is down; every other event keeps its flags as given. One per event source.
class FnKeyState {
  public:
    // Quartz event type, key code and flags in; the flags to hand on out.
    uint64_t flagsFor(int32_t type, int64_t keyCode, uint64_t flags) noexcept;

  private:
    bool fnDown_ = false;
};

// One platform key event, read lazily: the decisions read only what they need.
class KeyEventView {
  public:
    virtual ~KeyEventView() = default;
    virtual int64_t keyCode() const = 0;
    virtual uint64_t flags() const = 0;
    // The characters ignoring modifiers; empty when there are none or the event cannot tell.
    virtual std::string characters() const = 0;
};

// What the decisions do to the world. Called on the main thread only.
class IntakeHost {
  public:
    virtual ~IntakeHost() = default;
    virtual bool consider(int32_t type, int64_t keyCode, uint64_t flags,
                          std::string_view label) = 0;
    // Enables the installed tap again; does nothing when there is none.
    virtual void reenableTap() = 0;
    virtual void diagnostic(std::string_view line) = 0;
};

enum class TapOutcome { passEvent, dropEvent };

// The tap callback's decision for one delivery of the given Quartz event type. A disabled
// notice re-enables the tap, writes "tap re-enabled\n" and is passed on; a key event reaches
// consider() with its flags as `fn` gives them, and is dropped exactly when consider() asks for
// it. Never throws.
TapOutcome tapDecision(IntakeHost& host, FnKeyState& fn, uint32_t type,
                       const KeyEventView& event) noexcept;

// The monitors' handling of one AppKit event (both the global and the local handler): events
// of other types are ignored, only the six modifier bits are carried, and consider()'s answer
// is ignored because monitors can only watch. `event.flags()` gives AppKit modifier flags; the
// six bits kept pass through `fn` as the tap's do. Never throws.
void monitorDecision(IntakeHost& host, FnKeyState& fn, uint64_t nsType,
                     const KeyEventView& event) noexcept;

// The host's end as the macOS layer watches for it. The host is the parent process, and macOS
// has no parent-death signal, so the layer watches the parent's exit.
enum class ExitWatch { armed, noSuchProcess, failed };

// What arming the watch needs from the system.
class ParentProcess {
  public:
    virtual ~ParentProcess() = default;
    // Registers a watch that reports the exit of process `pid`; the process must exist now.
    virtual ExitWatch watchExit(int64_t pid) = 0;
    // The current parent's process id.
    virtual int64_t parent() = 0;
};

enum class ParentWatch {
    watching,   // the parent's exit will be reported
    parentGone, // the parent has gone already: the listener is to end now
    unwatched,  // nothing to watch, or no watch could be made
};

// Arms the watch on `parentAtStart`, the parent the process had when it started. A parent of 1
// (launchd) or less is no host to follow and is not watched. The parent is asked for again
// after the watch is registered, so that a parent gone before (its children go to launchd,
// and its process id may already be another process's) counts as gone. Never throws.
ParentWatch armParentWatch(ParentProcess& process, int64_t parentAtStart) noexcept;
