// The macOS event sources: an active Quartz event tap at the head of the session's taps; when
// the process may not have one (no Accessibility permission), a listen-only tap, which needs
// only Input Monitoring and sees every key without withholding any; when neither can be made,
// AppKit's global and local event monitors, run by the application's own loop. The two
// fallbacks only watch. The host is the parent process: when it exits, the listener ends at
// once, as it does when the reader of standard output has gone. The decisions live in
// tap_logic.cpp; this file only reads events and applies the answers. Everything runs on the
// main thread's run loop. Built only on Apple systems.

#include "event_intake.h"

#include "event_codes.h"
#include "recognizer.h"
#include "state.h"
#include "streams.h"
#include "tap_logic.h"

#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/event.h>
#include <time.h>
#include <unistd.h>

#if !__has_feature(objc_arc)
#error "This file relies on ARC: compile it with -fobjc-arc"
#endif

static_assert(kCGSessionEventTap == 1 && kCGHeadInsertEventTap == 0 &&
              kCGEventTapOptionDefault == 0 && kCGEventTapOptionListenOnly == 1);
// The vocabulary's numbers are the frameworks' own.
static_assert(kCGEventKeyDown == kKeyDown && kCGEventKeyUp == kKeyUp &&
              kCGEventFlagsChanged == kFlagsChanged);
static_assert(kCGEventTapDisabledByTimeout == kTapDisabledByTimeout &&
              kCGEventTapDisabledByUserInput == kTapDisabledByUserInput);
static_assert(NSEventMaskKeyDown == (1ull << kKeyDown) && NSEventMaskKeyUp == (1ull << kKeyUp) &&
              NSEventMaskFlagsChanged == (1ull << kFlagsChanged));
static_assert(NSEventTypeKeyDown == kKeyDown && NSEventTypeKeyUp == kKeyUp &&
              NSEventTypeFlagsChanged == kFlagsChanged);
static_assert(kCGEventFlagMaskAlphaShift == kFlagCapsLock && kCGEventFlagMaskShift == kFlagShift &&
              kCGEventFlagMaskControl == kFlagControl && kCGEventFlagMaskAlternate == kFlagOption &&
              kCGEventFlagMaskCommand == kFlagCommand && kCGEventFlagMaskSecondaryFn == kFlagFn);
static_assert(NSEventModifierFlagCapsLock == kFlagCapsLock &&
              NSEventModifierFlagShift == kFlagShift && NSEventModifierFlagControl == kFlagControl &&
              NSEventModifierFlagOption == kFlagOption &&
              NSEventModifierFlagCommand == kFlagCommand && NSEventModifierFlagFunction == kFlagFn);

namespace {

// The state the sources serve, given to runEventIntake(); the callbacks take no context.
ListenerState* intakeState = nullptr;
// Whether fn is down, for whichever source runs; main thread only.
FnKeyState fnKey;

// Protocol lines that standard output could not take at once are written by this source on
// the main queue (which the main run loop serves), resumed only while lines wait, since a
// writable descriptor would fire it without end. Held for the life of the process.
dispatch_source_t outputSource = nullptr;
bool outputWatched = false;

void watchOutput() {
    if (outputSource == nullptr) return;
    const bool waiting = intakeState->output->watch().events != 0;
    if (waiting == outputWatched) return;
    outputWatched = waiting;
    if (waiting) {
        dispatch_resume(outputSource);
    } else {
        dispatch_suspend(outputSource);
    }
}

void createOutputSource() {
    const OutputWatch output = intakeState->output->watch();
    if (output.fd < 0) return;
    outputSource =
        dispatch_source_create(DISPATCH_SOURCE_TYPE_WRITE, static_cast<uintptr_t>(output.fd), 0,
                               dispatch_get_main_queue());
    if (outputSource == nullptr) return;
    dispatch_source_set_event_handler(outputSource, ^{
      // Writes what the pipe takes now; ends the process with status 0 when the reader has gone.
      intakeState->output->ready(POLLOUT);
      watchOutput();
    });
}

// The parent when the process started, read before main() so that as little time as possible
// lies between the host starting the listener and this look.
const pid_t parentAtStart = ::getppid();

// Ends the process as the reader's end of standard output does: status 0, nothing more
// written. It runs from the main queue, between tap callbacks, so no key waits for an answer;
// the system removes the tap with the process.
[[noreturn]] void endWithHost() {
    std::_Exit(0);
}

class KqueueParent final : public ParentProcess {
  public:
    explicit KqueueParent(int queue) : queue_(queue) {}
    ExitWatch watchExit(int64_t pid) override {
        struct kevent change;
        EV_SET(&change, static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
               nullptr);
        // Registered at once: a process that has ended, or is ending, is refused with ESRCH.
        if (::kevent(queue_, &change, 1, nullptr, 0, nullptr) == 0) return ExitWatch::armed;
        return errno == ESRCH ? ExitWatch::noSuchProcess : ExitWatch::failed;
    }
    int64_t parent() override { return ::getppid(); }

  private:
    int queue_;
};

// The parent's exit note arrives on a kqueue, whose descriptor this read source watches on the
// main queue. Both are held for the life of the process.
dispatch_source_t parentSource = nullptr;

// Ends the process at once when the parent has gone already; otherwise returns, watching it
// when the system allows.
void watchParent() {
    const int queue = ::kqueue();
    if (queue < 0) return;
    KqueueParent process(queue);
    const ParentWatch watch = armParentWatch(process, parentAtStart);
    if (watch == ParentWatch::parentGone) endWithHost();
    if (watch == ParentWatch::watching)
        parentSource = dispatch_source_create(
            DISPATCH_SOURCE_TYPE_READ, static_cast<uintptr_t>(queue), 0, dispatch_get_main_queue());
    if (parentSource == nullptr) {
        ::close(queue);
        return;
    }
    dispatch_source_set_event_handler(parentSource, ^{
      struct kevent fired;
      const timespec now{0, 0};
      if (::kevent(queue, nullptr, 0, &fired, 1, &now) == 1 && (fired.fflags & NOTE_EXIT) != 0)
          endWithHost();
    });
    dispatch_resume(parentSource);
}

// The characters ignoring modifiers of an AppKit key event; empty when it has none or the
// event is not a key event.
std::string charactersOf(NSEvent* event) {
    if (event == nil) return {};
    @try {
        const char* bytes = event.charactersIgnoringModifiers.UTF8String;
        return bytes ? std::string(bytes) : std::string();
    } @catch (NSException*) {
        return {};
    }
}

class QuartzKeyEvent final : public KeyEventView {
  public:
    explicit QuartzKeyEvent(CGEventRef event) : event_(event) {}
    int64_t keyCode() const override {
        return CGEventGetIntegerValueField(event_, kCGKeyboardEventKeycode);
    }
    uint64_t flags() const override { return CGEventGetFlags(event_); }
    std::string characters() const override {
        // The tap's run loop drains no autorelease pool of its own.
        @autoreleasepool {
            return charactersOf([NSEvent eventWithCGEvent:event_]);
        }
    }

  private:
    CGEventRef event_;
};

class AppKitKeyEvent final : public KeyEventView {
  public:
    explicit AppKitKeyEvent(NSEvent* event) : event_(event) {}
    // An unsigned 16-bit code, widened.
    int64_t keyCode() const override { return static_cast<int64_t>(event_.keyCode); }
    uint64_t flags() const override { return static_cast<uint64_t>(event_.modifierFlags); }
    std::string characters() const override { return charactersOf(event_); }

  private:
    NSEvent* event_;
};

class ListenerHost final : public IntakeHost {
  public:
    bool consider(int32_t type, int64_t keyCode, uint64_t flags, std::string_view label) override {
        return ::consider(type, keyCode, flags, label);
    }
    void reenableTap() override {
        if (intakeState->activeTap != nullptr)
            CGEventTapEnable(static_cast<CFMachPortRef>(intakeState->activeTap), true);
    }
    void diagnostic(std::string_view line) override { intakeState->output->err(line); }
};

// Returns the event to let it through, or none to drop it.
CGEventRef tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    ListenerHost host;
    const QuartzKeyEvent view(event);
    const TapOutcome outcome = tapDecision(host, fnKey, static_cast<uint32_t>(type), view);
    watchOutput();
    return outcome == TapOutcome::dropEvent ? nullptr : event;
}

// The listen-only tap's callback: the same decisions, but every event goes on (the system
// ignores what a listen-only tap returns; it is returned unchanged all the same).
CGEventRef listenCallback(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
    ListenerHost host;
    const QuartzKeyEvent view(event);
    tapDecision(host, fnKey, static_cast<uint32_t>(type), view);
    watchOutput();
    return event;
}

void handleMonitored(NSEvent* event) {
    @autoreleasepool {
        ListenerHost host;
        const AppKitKeyEvent view(event);
        monitorDecision(host, fnKey, static_cast<uint64_t>(event.type), view);
        watchOutput();
    }
}

// The last resort: AppKit's monitors, which only watch, and which see key events only for a
// process trusted for accessibility (global) or through the application's own event loop
// (local). Run as an accessory application: no Dock icon, no menu bar. Tokens are kept nowhere
// and the monitors are never removed.
int runMonitors() {
    [NSApplication sharedApplication];
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
    const auto eventMask = static_cast<NSEventMask>(::mask);
    [NSEvent addGlobalMonitorForEventsMatchingMask:eventMask
                                           handler:^(NSEvent* event) {
                                             handleMonitored(event);
                                           }];
    [NSEvent addLocalMonitorForEventsMatchingMask:eventMask
                                          handler:^NSEvent*(NSEvent* event) {
                                            handleMonitored(event);
                                            return event;
                                          }];
    [NSApp run];
    return 0;
}

// Serves the tap on the current (main) thread's run loop until the process ends.
int runTap(CFMachPortRef tap) {
    CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
    if (source == nullptr) return 1; // nothing would ever be delivered
    CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopCommonModes);
    CGEventTapEnable(tap, true);
    CFRunLoopRun();
    return 0;
}

} // namespace

int runEventIntake(ListenerState& state) {
    intakeState = &state;
    // Before the tap exists: a host gone already leaves no tap behind, not even for a moment.
    watchParent();
    createOutputSource();
    // Without the permission the system may still make the tap but clear its key bits, leaving a
    // tap that sees modifiers alone: an untrusted process takes the fallbacks instead.
    CFMachPortRef tap = AXIsProcessTrusted()
                            ? CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap,
                                               kCGEventTapOptionDefault, ::mask, tapCallback,
                                               nullptr)
                            : nullptr;
    if (tap != nullptr) {
        state.activeTap = tap;
        // Written before the source is added and the tap enabled, so that hosts see it first.
        state.output->err("ready: event tap\n");
        return runTap(tap);
    }
    // Without the Accessibility permission keys can only be watched, whichever source remains.
    state.output->err("event tap unavailable; using NSEvent monitors (check "
                      "Accessibility/Input Monitoring)\n");
    CFMachPortRef listener =
        CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                         ::mask, listenCallback, nullptr);
    if (listener == nullptr) return runMonitors();
    state.activeTap = listener;
    return runTap(listener);
}
