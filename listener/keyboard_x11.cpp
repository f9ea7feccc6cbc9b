#include "keyboard_x11.h"

#include "key_labels_x11.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>

namespace {

struct KeyboardFreer {
    void operator()(XkbDescPtr keyboard) const { XkbFreeKeyboard(keyboard, 0, True); }
};
using KeyboardHandle = std::unique_ptr<XkbDescRec, KeyboardFreer>;

} // namespace

bool KeyboardWatcher::connect() {
    display_.reset(XOpenDisplay(nullptr));
    return display_ != nullptr;
}

std::optional<std::string> KeyboardWatcher::start() {
    Display* display = display_.get();
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

// Reads the key tables and the modifier placement.
void KeyboardWatcher::readKeyboard() {
    Display* display = display_.get();
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
    hasCapsLockKey_ = std::any_of(keys.begin(), keys.end(),
                                  [](const XKeyInfo& info) { return info.capsLockKey; });
    keymapRead_();
}

// Keys held when the listener starts count as down, as the macOS tap sees their flags: fn held
// then is fn held. Asked for after the raw events were selected, so that no release is missed;
// a press in between counts as a repeat.
void KeyboardWatcher::readKeysDown() {
    std::array<char, 32> bits{};
    XQueryKeymap(display_.get(), bits.data());
    std::array<bool, kXKeyCodeCount> down{};
    for (unsigned code = 0; code < kXKeyCodeCount; ++code)
        down[code] = (static_cast<unsigned char>(bits[code / 8]) >> (code % 8)) & 1;
    tracker_.setKeysDown(down);
}

void KeyboardWatcher::drain() {
    Display* display = display_.get();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
}

void KeyboardWatcher::catchUp() {
    XSync(display_.get(), False);
    drain();
}

void KeyboardWatcher::handle(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode_) {
        handleRaw(event.xcookie);
        return;
    }
    if (event.type == xkbEventBase_) {
        handleXkb(event);
        return;
    }
    tracker_.flushPending();
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer) readKeyboard();
    }
}

void KeyboardWatcher::handleRaw(XGenericEventCookie& cookie) {
    if (!XGetEventData(display_.get(), &cookie)) return;
    if (cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
        tracker_.rawKey(static_cast<unsigned>(raw->detail), cookie.evtype == XI_RawKeyPress);
    }
    XFreeEventData(display_.get(), &cookie);
}

void KeyboardWatcher::handleXkb(const XEvent& xEvent) {
    const auto& event = reinterpret_cast<const XkbEvent&>(xEvent);
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
