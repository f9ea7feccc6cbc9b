// The X11 event source. XInput 2 raw key events on the root window show every key of the
// session; XKB state notifications give the modifier and lock state. Keys that a recognizer
// may withhold are passively grabbed in synchronous mode, so that each of their presses is
// answered with a replay (delivered) or a drop (withheld). Everything runs on the main thread,
// blocked in poll() on the display connections and standard output while no event comes.
// Nothing on the way to an answer blocks: protocol lines wait in a queue that this loop
// flushes when standard output can take them, and its hang-up ends the process.

#include "event_intake.h"

#include "intake_keys_x11.h"
#include "keymap.h"
#include "recognizer.h"
#include "state.h"
#include "streams.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
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

// Refused grabs, counted by the error handler installed around the grab requests only.
int refusedGrabs = 0;
int countRefusedGrab(Display*, XErrorEvent* error) {
    if (error->request_code == X_GrabKey) ++refusedGrabs;
    return 0;
}

// Where the display-lost handler reports; Xlib gives the handler no context of its own.
Streams* lostDisplayReport = nullptr;

// The server went away: nothing more can be watched. Xlib would exit on return anyway.
int displayLost(Display*) {
    if (lostDisplayReport)
        lostDisplayReport->err("X display connection lost; no keyboard events can be watched\n");
    std::_Exit(1);
}

std::string labelOf(KeySym keysym) {
    std::array<char, 16> buffer{};
    const int size =
        xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(keysym), buffer.data(), buffer.size());
    // The size counts the terminating NUL; 0 means the keysym has no characters.
    return size > 1 ? std::string(buffer.data(), static_cast<size_t>(size - 1)) : std::string();
}

// Two connections. The watcher selects raw key events and XKB notifications and never grabs,
// so its stream stays in key order whatever the grabs do; the grabber holds the passive grabs
// and answers their presses. The server sends a grabbed modifier's state notification only
// after the grabbed press itself, so a press is answered after a round trip on the watcher.
class X11Intake {
  public:
    explicit X11Intake(ListenerState& state)
        : state_(state), tracker_([this](unsigned xKeyCode, bool press, const KeyTriple& triple) {
              deliver(xKeyCode, press, triple);
          }) {}

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
    void grabKeys();
    void drainWatcher();
    void drainGrabber();
    void handleWatched(XEvent& event);
    void handleRaw(XGenericEventCookie& cookie);
    void handleXkb(const XkbEvent& event);
    void answerGrabbedPress(const XKeyEvent& event);
    void deliver(unsigned xKeyCode, bool press, const KeyTriple& triple);

    ListenerState& state_;
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
    std::vector<unsigned> grabbedKeys_;
};

std::optional<std::string> X11Intake::open() {
    watcher_.reset(XOpenDisplay(nullptr));
    if (watcher_) grabber_.reset(XOpenDisplay(nullptr));
    if (!watcher_ || !grabber_) {
        const char* name = std::getenv("DISPLAY");
        return std::string("cannot open the X display ") +
               (name ? "\"" + std::string(name) + "\"" : std::string("(DISPLAY is not set)")) +
               "; no keyboard events can be watched\n";
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
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                          XkbModifierStateMask);
    readKeyboard();
    XSync(display, False);
    return std::nullopt;
}

// Reads the key tables, the modifier placement and the state, then grabs for the new tables.
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
            info.macKey = info.fnKey ? std::optional<int64_t>(kMacKeyFn) : macKeyFromXKeyCode(code);
            info.label = labelOf(keysym);
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
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
        tracker_.setState(XkbModifiers{state.mods, state.locked_mods});
    }
    grabKeys();
}

void X11Intake::grabKeys() {
    Display* display = grabber_.get();
    const Window root = DefaultRootWindow(display);
    for (const unsigned code : grabbedKeys_) {
        XUngrabKey(display, static_cast<int>(code), AnyModifier, root);
    }
    grabbedKeys_.clear();
    XSync(display, False);
    refusedGrabs = 0;
    XErrorHandler previous = XSetErrorHandler(countRefusedGrab);
    for (const GrabRequest& request : grabPlan(state_.bindings, state_.recording, masks_)) {
        for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
            const XKeyInfo& info = tracker_.key(code);
            if (info.fnKey || info.macKey != request.macKey) continue;
            grabbedKeys_.push_back(code);
            const auto grab = [&](unsigned modifiers) {
                XGrabKey(display, static_cast<int>(code), modifiers, root, False, GrabModeAsync,
                         GrabModeSync);
            };
            if (request.anyModifiers) {
                grab(AnyModifier);
                continue;
            }
            for (const unsigned modifiers : grabVariants(request.modifiers, masks_))
                grab(modifiers);
        }
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    if (refusedGrabs > 0) {
        report("another X client holds key grabs; " + std::to_string(refusedGrabs) +
               " grabs refused, those keys are watched but not withheld\n");
    }
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
    for (;;) {
        try {
            drainWatcher();
            drainGrabber();
            waitForEvents();
        } catch (...) {
            // One event was lost; the keyboard and the listener go on.
        }
    }
}

// Blocks until either connection has something to read, standard output can take waiting
// lines, or its reader has gone; never polls on a timer.
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
    std::array<pollfd, 3> fds{pollfd{ConnectionNumber(watcher), POLLIN, 0},
                              pollfd{ConnectionNumber(grabber), POLLIN, 0},
                              pollfd{output.fd, output.events, 0}};
    if (poll(fds.data(), fds.size(), -1) <= 0) return;
    // May end the process, when the reader has gone.
    if (fds[2].revents != 0) state_.output->ready(fds[2].revents);
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
                             XkbModifiers{event.state.mods, event.state.locked_mods});
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
    XAllowEvents(grabber_.get(), drop ? AsyncKeyboard : ReplayKeyboard, event.time);
    // The answer reaches the server before anything the watcher asks next.
    XSync(grabber_.get(), False);
}

void X11Intake::deliver(unsigned xKeyCode, bool press, const KeyTriple& triple) {
    const bool withhold = consider(triple.type, triple.keyCode, triple.flags, triple.label);
    if (press && xKeyCode < kXKeyCodeCount) withhold_[xKeyCode] = withhold;
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
