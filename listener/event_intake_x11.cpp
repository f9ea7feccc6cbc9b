// The X11 event source. XInput 2 raw key events on the root window show every key of the
// session; XKB state notifications give the modifier and lock state. Keys that a recognizer
// may withhold are passively grabbed in synchronous mode, so that each of their presses is
// answered with a replay (delivered) or a drop (withheld). Everything runs on the main thread,
// blocked in poll() on the display connections and standard output while no event comes.
// Nothing on the way to an answer blocks: protocol lines wait in a queue that this loop
// flushes when standard output can take them, and its hang-up ends the process.

#include "event_intake.h"

#include "focus_grab_x11.h"
#include "grabs_x11.h"
#include "held_lines.h"
#include "intake_keys.h"
#include "key_labels_x11.h"
#include "recognizer.h"
#include "state.h"
#include "streams.h"
#include "termination_linux.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <utility>
#include <vector>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

struct KeyboardFreer {
    void operator()(XkbDescPtr keyboard) const { XkbFreeKeyboard(keyboard, 0, True); }
};
using KeyboardHandle = std::unique_ptr<XkbDescRec, KeyboardFreer>;

// After SIGTERM, how long a withheld Caps Lock press may still be waited for: XKB unlocks Caps
// Lock at its release, and only this process puts the kept state back.
constexpr std::chrono::milliseconds kCapsReleaseWaitAfterTerm{200};

const char* const kNoCapsLockKey =
    "no key of this keyboard layout is Caps_Lock; the translate chord fn + Caps Lock is "
    "unavailable\n";

// Where the display-lost handler reports; Xlib gives the handler no context of its own.
Streams* lostDisplayReport = nullptr;

// The server went away: nothing more can be watched. Xlib would exit on return anyway.
int displayLost(Display*) {
    if (lostDisplayReport)
        lostDisplayReport->err("X display connection lost; no keyboard events can be watched\n");
    std::_Exit(1);
}

// Two connections. The watcher selects raw key events and XKB notifications and never grabs,
// so its stream stays in key order whatever the grabs do; the grabber holds the passive grabs
// and answers their presses. The server sends a grabbed modifier's state notification only
// after the grabbed press itself, so a press is answered after a round trip on the watcher.
class X11Intake {
  public:
    explicit X11Intake(ListenerState& state)
        : state_(state), lines_(*state.output),
          tracker_([this](unsigned xKeyCode, bool press, const KeyTriple& triple) {
              deliver(xKeyCode, press, triple);
          }) {
        state_.output = &lines_;
    }

    // Connects, selects every event and grabs; gives the diagnostic line on failure.
    std::optional<std::string> open();
    // Writes the ready line, then the diagnostics held back while opening.
    void announceReady();
    [[noreturn]] void run();

  private:
    // One diagnostic line; held back until the ready line has been written.
    void report(std::string line);
    void waitForEvents();
    void readKeyboard();
    void readKeysDown();
    void reportCapsLockKey(bool present);
    bool awaitsCapsLockRelease() const;
    void endWhenTerminated();
    int msUntilTimer() const;
    void grabKeys();
    void keepCapsLockAfterRelease(unsigned xKeyCode);
    void drainWatcher();
    void drainGrabber();
    void handleWatched(XEvent& event);
    void handleRaw(XGenericEventCookie& cookie);
    void handleXkb(const XkbEvent& event);
    void answerGrabbedPress(const XKeyEvent& event);
    void handleEvents();
    void deliver(unsigned xKeyCode, bool press, const KeyTriple& triple);

    ListenerState& state_;
    // Every protocol line goes through here, held while the events that made it are handled.
    HeldLines lines_;
    bool announced_ = false;
    std::vector<std::string> heldReports_;
    DisplayHandle watcher_;
    DisplayHandle grabber_;
    int xiOpcode_ = 0;
    int xkbEventBase_ = 0;
    XKeyTracker tracker_;
    XModifierMasks masks_;
    // Each key's answer to its latest raw press, taken by the grabbed press it decides.
    std::array<std::optional<bool>, kXKeyCodeCount> withhold_{};
    // For a Caps Lock key whose press was withheld: the lock state its release must leave.
    std::array<std::optional<bool>, kXKeyCodeCount> capsLockToKeep_{};
    PassiveGrabs grabs_;
    FocusGrab focusGrab_;
    // Whether the keymap had a Caps_Lock key when last read; none before the first reading.
    std::optional<bool> capsLockKeyPresent_;
    TerminationRequest termination_;
    // Set at SIGTERM: until when a withheld Caps Lock press's release is waited for.
    std::optional<std::chrono::steady_clock::time_point> endBy_;
};

std::optional<std::string> X11Intake::open() {
    watcher_.reset(XOpenDisplay(nullptr));
    if (watcher_) grabber_.reset(XOpenDisplay(nullptr));
    grabs_.setDisplay(grabber_.get());
    focusGrab_.setDisplay(grabber_.get());
    if (!watcher_ || !grabber_) {
        // Appended piece by piece: GCC 12 warns (-Wrestrict, falsely) on the chained + at -O3.
        const char* name = std::getenv("DISPLAY");
        std::string failure = "cannot open the X display ";
        if (name)
            failure.append("\"").append(name).append("\"");
        else
            failure.append("(DISPLAY is not set)");
        failure += "; no keyboard events can be watched\n";
        return failure;
    }
    Display* display = watcher_.get();
    lostDisplayReport = state_.output;
    XSetIOErrorHandler(displayLost);
    // From XInput 2.1 on, raw events reach every selecting client, whoever grabs the keyboard.
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &xiOpcode_, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || (major == 2 && minor < 1)) {
        return std::string("the X server lacks XInput 2.1; no keyboard events can be watched\n");
    }
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &xkbEventBase_, &xkbError, &xkbMajor, &xkbMinor)) {
        return std::string("the X server lacks XKB; no keyboard events can be watched\n");
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XIEventMask selection{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display, DefaultRootWindow(display), &selection, 1);
    constexpr unsigned kKeymapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, kKeymapChanges, kKeymapChanges);
    // Modifier changes, and group changes for the labels.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                          XkbModifierStateMask | XkbGroupStateMask);
    readKeyboard();
    // The state is asked for once: later, a query would answer with the state after events
    // still queued for the watcher, while the notifications bring each change in key order.
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        tracker_.setState(XkbModifiers{state.mods, state.locked_mods, state.group});
    }
    readKeysDown();
    XSync(display, False);
    return std::nullopt;
}

// Reads the key tables and the modifier placement, then grabs for the new tables.
void X11Intake::readKeyboard() {
    Display* display = watcher_.get();
    KeyboardHandle keyboard(
        XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd));
    XKeyTable keys{};
    std::array<unsigned, kXKeyCodeCount> modmap{};
    std::array<KeySym, kXKeyCodeCount> levelZero{};
    if (keyboard && keyboard->map && keyboard->map->key_sym_map && keyboard->map->types) {
        for (unsigned code = keyboard->min_key_code; code <= keyboard->max_key_code; ++code) {
            const auto keyCode = static_cast<KeyCode>(code);
            KeySym keysym = NoSymbol;
            if (XkbKeyNumGroups(keyboard.get(), keyCode) > 0 &&
                XkbKeyGroupWidth(keyboard.get(), keyCode, 0) > 0) {
                keysym = XkbKeySymEntry(keyboard.get(), keyCode, 0, 0);
            }
            XKeyInfo& info = keys[code];
            info.fnKey = keysym == XKB_KEY_XF86Fn;
            info.capsLockKey = keysym == XK_Caps_Lock;
            info.macKey = macKeyOf(code, keysym);
            info.labels = labelsOf(keyboard.get(), keyCode);
            modmap[code] = keyboard->map->modmap ? keyboard->map->modmap[code] : 0;
            levelZero[code] = keysym;
        }
    }
    masks_ = modifierMasksFrom([&](unsigned keysym) {
        unsigned bits = 0;
        for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
            if (levelZero[code] == keysym) bits |= modmap[code];
        }
        return bits;
    });
    tracker_.setKeys(keys, masks_);
    reportCapsLockKey(std::any_of(keys.begin(), keys.end(),
                                  [](const XKeyInfo& info) { return info.capsLockKey; }));
    grabKeys();
}

// Keys held when the listener starts count as down, as the macOS tap sees their flags: fn held
// then is fn held. Asked for after the raw events were selected, so that no release is missed;
// a press in between counts as a repeat.
void X11Intake::readKeysDown() {
    std::array<char, 32> bits{};
    XQueryKeymap(watcher_.get(), bits.data());
    std::array<bool, kXKeyCodeCount> down{};
    for (unsigned code = 0; code < kXKeyCodeCount; ++code)
        down[code] = (static_cast<unsigned char>(bits[code / 8]) >> (code % 8)) & 1;
    tracker_.setKeysDown(down);
}

// One line when a keymap without a Caps_Lock key comes in (at start, or replacing one with it).
void X11Intake::reportCapsLockKey(bool present) {
    if (!present && capsLockKeyPresent_.value_or(true)) report(kNoCapsLockKey);
    capsLockKeyPresent_ = present;
}

void X11Intake::grabKeys() {
    const std::vector<GrabRequest> plan = grabPlan(state_.bindings, state_.recording, masks_);
    if (std::optional<std::string> line = grabs_.replace(keyGrabsFor(plan, tracker_, masks_)))
        report(std::move(*line));
}

void X11Intake::report(std::string line) {
    if (announced_) {
        state_.output->err(line);
    } else {
        heldReports_.push_back(std::move(line));
    }
}

void X11Intake::announceReady() {
    state_.output->err("ready: event tap\n");
    announced_ = true;
    for (const std::string& line : heldReports_)
        state_.output->err(line);
    heldReports_.clear();
}

[[noreturn]] void X11Intake::run() {
    // Without the handler, SIGTERM ends the process at once, as it did before.
    termination_.install();
    for (;;) {
        try {
            handleEvents();
            if (std::optional<std::string> line = grabs_.retryRefused()) report(std::move(*line));
            endWhenTerminated();
            waitForEvents();
        } catch (...) {
            // One event was lost; the keyboard and the listener go on.
            lines_.release();
        }
    }
}

// The lines that key events make reach the host only once the grabbed presses among those
// events are answered and the focus is back where it was: a host that runs the selection probe
// at a line then finds the focused text. The server sends a key's raw event and its grabbed
// press together, so one round trip on the grabber brings in the press of a line's key.
void X11Intake::handleEvents() {
    lines_.hold();
    drainWatcher();
    if (lines_.holdsLines()) XSync(grabber_.get(), False);
    drainGrabber();
    if (const std::optional<unsigned> key = focusGrab_.key(); key && !tracker_.isDown(*key)) {
        // The key is up: its release reached the grabber too, or never will.
        XSync(grabber_.get(), False);
        drainGrabber();
        focusGrab_.end();
        XSync(grabber_.get(), False);
    }
    lines_.release();
}

// Blocks until either connection has something to read, standard output can take waiting
// lines, its reader has gone, SIGTERM comes, refused grabs are to be asked for again, or the
// wait for a Caps Lock release after SIGTERM is over; with every grab held, no timer runs.
void X11Intake::waitForEvents() {
    Display* watcher = watcher_.get();
    Display* grabber = grabber_.get();
    if (XPending(watcher) > 0 || XPending(grabber) > 0) return;
    if (tracker_.hasPending()) {
        // A modifier key still waits for its state notification: once the server has sent
        // all it had, report the key with the state as known.
        XSync(watcher, False);
        if (XPending(watcher) == 0) tracker_.flushPending();
        return;
    }
    const OutputWatch output = state_.output->watch();
    std::array<pollfd, 4> fds{
        pollfd{ConnectionNumber(watcher), POLLIN, 0}, pollfd{ConnectionNumber(grabber), POLLIN, 0},
        pollfd{output.fd, output.events, 0}, pollfd{termination_.fd(), POLLIN, 0}};
    if (poll(fds.data(), fds.size(), msUntilTimer()) <= 0) return;
    // May end the process, when the reader has gone.
    if (fds[2].revents != 0) state_.output->ready(fds[2].revents);
}

// How long poll() may wait before a grab retry or the end after SIGTERM is due; -1 for ever.
int X11Intake::msUntilTimer() const {
    const int retry = grabs_.msUntilRetry();
    if (!endBy_) return retry;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*endBy_ - std::chrono::steady_clock::now());
    const int end = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    return retry < 0 ? end : std::min(retry, end);
}

// A withheld Caps Lock press whose key is still down: its release will unlock Caps Lock.
bool X11Intake::awaitsCapsLockRelease() const {
    for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
        if (capsLockToKeep_[code] && tracker_.isDown(code)) return true;
    }
    return false;
}

// After SIGTERM the process ends as the signal ends it, once no withheld Caps Lock press waits
// for its release, or 200 ms after the signal when one still does (XKB then unlocks Caps Lock
// at that release, and nothing puts it back).
void X11Intake::endWhenTerminated() {
    if (!termination_.requested()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!endBy_) endBy_ = now + kCapsReleaseWaitAfterTerm;
    // Everything the server sent before now is seen, a release included.
    XSync(watcher_.get(), False);
    drainWatcher();
    tracker_.flushPending();
    if (awaitsCapsLockRelease() && now < *endBy_) return;
    XSync(grabber_.get(), False);
    TerminationRequest::endBySignal();
}

void X11Intake::drainWatcher() {
    Display* display = watcher_.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handleWatched(event);
    }
}

void X11Intake::drainGrabber() {
    Display* display = grabber_.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) answerGrabbedPress(event.xkey);
        if (event.type == KeyRelease) focusGrab_.answerRelease(event.xkey.keycode);
    }
}

void X11Intake::handleWatched(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_) {
        handleRaw(event.xcookie);
        return;
    }
    if (event.type == xkbEventBase_) {
        handleXkb(reinterpret_cast<const XkbEvent&>(event));
        return;
    }
    tracker_.flushPending();
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer) readKeyboard();
    }
}

void X11Intake::handleRaw(XGenericEventCookie& cookie) {
    if (!XGetEventData(watcher_.get(), &cookie)) return;
    if (cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
        tracker_.rawKey(static_cast<unsigned>(raw->detail), cookie.evtype == XI_RawKeyPress);
    }
    XFreeEventData(watcher_.get(), &cookie);
}

void X11Intake::handleXkb(const XkbEvent& event) {
    switch (event.any.xkb_type) {
    case XkbStateNotify:
        tracker_.stateNotify(event.state.keycode, event.state.event_type == KeyPress,
                             XkbModifiers{event.state.mods, event.state.locked_mods,
                                          static_cast<unsigned>(event.state.group)});
        break;
    case XkbMapNotify:
    case XkbNewKeyboardNotify:
        tracker_.flushPending();
        readKeyboard();
        break;
    default:
        break;
    }
}

// A press of a grabbed key; the keyboard stays frozen until it is answered. The server sent
// the key's raw event (and, for a modifier, its state notification) to the watcher before
// this press, so one round trip on the watcher brings them in.
void X11Intake::answerGrabbedPress(const XKeyEvent& event) {
    XSync(watcher_.get(), False);
    drainWatcher();
    tracker_.flushPending();
    const unsigned code = event.keycode;
    bool drop = false;
    if (code < kXKeyCodeCount && withhold_[code]) {
        drop = *withhold_[code];
        withhold_[code].reset();
    } else if (const std::optional<KeyTriple> repeat = tracker_.repeatTriple(code)) {
        drop = consider(repeat->type, repeat->keyCode, repeat->flags, repeat->label);
    }
    if (focusGrab_.key()) {
        focusGrab_.answerPress(drop);
    } else if (!drop) {
        XAllowEvents(grabber_.get(), ReplayKeyboard, event.time);
    } else if (!focusGrab_.begin(code)) {
        XAllowEvents(grabber_.get(), AsyncKeyboard, event.time);
    }
    // The answer reaches the server before anything the watcher asks next.
    XSync(grabber_.get(), False);
}

void X11Intake::deliver(unsigned xKeyCode, bool press, const KeyTriple& triple) {
    if (!press && tracker_.key(xKeyCode).capsLockKey) {
        // As on macOS, a Caps Lock key reports its toggle at the press only.
        keepCapsLockAfterRelease(xKeyCode);
        return;
    }
    const bool withhold = consider(triple.type, triple.keyCode, triple.flags, triple.label);
    if (!press || xKeyCode >= kXKeyCodeCount) return;
    withhold_[xKeyCode] = withhold;
    if (tracker_.key(xKeyCode).capsLockKey) {
        // What the recognizers keep: the state before the press when they put it back, the
        // toggled state when the shortcut lets Caps Lock toggle.
        capsLockToKeep_[xKeyCode] = withhold ? std::optional<bool>(state_.capsLock) : std::nullopt;
    }
}

// XKB unlocks Caps Lock at the release of the press that found it locked, whoever withheld
// that press and whatever was released first. A withheld press is a shortcut, whose Caps Lock
// state the recognizers decided at the press: the release puts it back, in every order of
// release. Called once the release's own state change is known.
void X11Intake::keepCapsLockAfterRelease(unsigned xKeyCode) {
    if (xKeyCode >= kXKeyCodeCount || !capsLockToKeep_[xKeyCode]) return;
    const bool locked = *std::exchange(capsLockToKeep_[xKeyCode], std::nullopt);
    if (tracker_.capsLocked() == locked) return;
    tracker_.expectCapsLocked(locked);
    Display* display = grabber_.get();
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, locked ? LockMask : 0);
    // Done before anything that follows the release is looked at.
    XSync(display, False);
}

} // namespace

int runEventIntake(ListenerState& state) {
    X11Intake intake(state);
    if (const std::optional<std::string> failure = intake.open()) {
        state.output->err(*failure);
        return 1;
    }
    intake.announceReady();
    intake.run();
}
