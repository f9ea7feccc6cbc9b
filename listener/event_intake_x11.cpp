// The X11 event source: its loop and its answers. The watcher connection (keyboard_x11.h) shows
// every key of the session in key order. Keys that a recognizer may withhold are passively
// grabbed in synchronous mode on a second connection, so that each of their presses is answered
// with a replay (delivered) or a drop (withheld). Everything runs on the main thread,
// blocked in poll() on the display connections and standard output while no event comes.
// Nothing on the way to an answer blocks: protocol lines wait in a queue that this loop
// flushes when standard output can take them, and its hang-up ends the process.

#include "event_intake.h"

#include "focus_grab_x11.h"
#include "grabs_x11.h"
#include "held_lines.h"
#include "intake_keys.h"
#include "keyboard_x11.h"
#include "recognizer.h"
#include "state.h"
#include "streams.h"
#include "termination_linux.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

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

// Two connections: the watcher, which never grabs, and the grabber, which holds the passive
// grabs and answers their presses. The server sends a grabbed modifier's state notification only
// after the grabbed press itself, so a press is answered after a round trip on the watcher.
class X11Intake {
  public:
    explicit X11Intake(ListenerState& state)
        : state_(state), lines_(*state.output),
          watcher_([this](unsigned xKeyCode, bool press,
                          const KeyTriple& triple) { deliver(xKeyCode, press, triple); },
                   [this] { keymapRead(); }) {
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
    void keymapRead();
    bool awaitsCapsLockRelease() const;
    void endWhenTerminated();
    int msUntilTimer() const;
    void grabKeys();
    void keepCapsLockAfterRelease(unsigned xKeyCode);
    void drainGrabber();
    void answerGrabbedPress(const XKeyEvent& event);
    void handleEvents();
    void deliver(unsigned xKeyCode, bool press, const KeyTriple& triple);

    ListenerState& state_;
    // Every protocol line goes through here, held while the events that made it are handled.
    HeldLines lines_;
    bool announced_ = false;
    std::vector<std::string> heldReports_;
    KeyboardWatcher watcher_;
    XKeyTracker& tracker_ = watcher_.tracker();
    DisplayHandle grabber_;
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
    if (watcher_.connect()) grabber_.reset(XOpenDisplay(nullptr));
    grabs_.setDisplay(grabber_.get());
    focusGrab_.setDisplay(grabber_.get());
    if (!watcher_.display() || !grabber_) {
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
    lostDisplayReport = state_.output;
    XSetIOErrorHandler(displayLost);
    return watcher_.start();
}

// After each reading of the keymap: one line when a keymap without a Caps_Lock key comes in (at
// start, or replacing one with it), and the grabs for the new tables.
void X11Intake::keymapRead() {
    const bool present = watcher_.hasCapsLockKey();
    if (!present && capsLockKeyPresent_.value_or(true)) report(kNoCapsLockKey);
    capsLockKeyPresent_ = present;
    grabKeys();
}

void X11Intake::grabKeys() {
    const XModifierMasks& masks = watcher_.masks();
    const std::vector<GrabRequest> plan = grabPlan(state_.bindings, state_.recording, masks);
    if (std::optional<std::string> line = grabs_.replace(keyGrabsFor(plan, tracker_, masks)))
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
    watcher_.drain();
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
    Display* watcher = watcher_.display();
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
    watcher_.catchUp();
    tracker_.flushPending();
    if (awaitsCapsLockRelease() && now < *endBy_) return;
    XSync(grabber_.get(), False);
    TerminationRequest::endBySignal();
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

// A press of a grabbed key; the keyboard stays frozen until it is answered. The server sent
// the key's raw event (and, for a modifier, its state notification) to the watcher before
// this press, so one round trip on the watcher brings them in.
void X11Intake::answerGrabbedPress(const XKeyEvent& event) {
    watcher_.catchUp();
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
