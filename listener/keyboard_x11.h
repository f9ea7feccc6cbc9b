#pragma once
// The X11 event source's watcher connection: it selects XInput 2 raw key events on the root
// window (every key of the session, injected ones included, whoever holds a grab) and XKB state
// notifications (the modifier, lock and group state), reads the key tables from the XKB keymap
// at start and at each change, and hands all of it to the key tracker in the order the server
// sent it. It never grabs, so its stream stays in key order whatever the grabs do.

#include "intake_keys.h"

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

class KeyboardWatcher {
  public:
    // `sink` gets each key's triple, in key order. `keymapRead` is called after each reading of
    // the keymap, at start and at each change, once the tracker has the new tables.
    KeyboardWatcher(XKeyTracker::Sink sink, std::function<void()> keymapRead)
        : tracker_(std::move(sink)), keymapRead_(std::move(keymapRead)) {}

    // Opens the connection to the display named by DISPLAY; false when it cannot be had.
    bool connect();
    // Selects the events, reads the keymap, the modifier state and the keys down; the diagnostic
    // line when the server lacks XInput 2.1 or XKB.
    std::optional<std::string> start();
    Display* display() const { return display_.get(); }

    // Handles every event received so far.
    void drain();
    // Handles everything the server sent before now.
    void catchUp();

    XKeyTracker& tracker() { return tracker_; }
    const XKeyTracker& tracker() const { return tracker_; }
    // Where the keymap last read puts Alt, Super, Num Lock and AltGr.
    const XModifierMasks& masks() const { return masks_; }
    // Whether the keymap last read has a Caps_Lock key.
    bool hasCapsLockKey() const { return hasCapsLockKey_; }

  private:
    void readKeyboard();
    void readKeysDown();
    void handle(XEvent& event);
    void handleRaw(XGenericEventCookie& cookie);
    void handleXkb(const XEvent& event);

    DisplayHandle display_;
    int xiOpcode_ = 0;
    int xkbEventBase_ = 0;
    XKeyTracker tracker_;
    XModifierMasks masks_;
    bool hasCapsLockKey_ = false;
    std::function<void()> keymapRead_;
};
