// Caps Lock through XKB on the display named by DISPLAY.

#include "lock_state.h"

#include "event_codes.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// Opens the display with XKB, or gives null when either is missing.
DisplayHandle openXkbDisplay() {
    int major = XkbMajorVersion, minor = XkbMinorVersion, event = 0, error = 0, reason = 0;
    DisplayHandle display(XkbOpenDisplay(nullptr, &event, &error, &major, &minor, &reason));
    if (reason != XkbOD_Success) return nullptr;
    return display;
}

std::optional<unsigned> lockedMods(Display* display) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return std::nullopt;
    return state.locked_mods;
}

class XkbLockState final : public LockState {
  public:
    explicit XkbLockState(DisplayHandle display) : display_(std::move(display)) {}

    std::optional<bool> capsLocked() override {
        auto mods = lockedMods(display_.get());
        if (!mods) return std::nullopt;
        return (*mods & LockMask) != 0;
    }

    bool setCapsLocked(bool on) override {
        if (!XkbLockModifiers(display_.get(), XkbUseCoreKbd, LockMask, on ? LockMask : 0))
            return false;
        // The confirming read must see the server's state after this request.
        XSync(display_.get(), False);
        return true;
    }

  private:
    DisplayHandle display_;
};

} // namespace

std::unique_ptr<LockState> openLockState() {
    auto display = openXkbDisplay();
    if (!display) return nullptr;
    return std::make_unique<XkbLockState>(std::move(display));
}

uint64_t sessionFlags() {
    auto display = openXkbDisplay();
    if (!display) return 0;
    auto mods = lockedMods(display.get());
    return mods && (*mods & LockMask) ? kFlagCapsLock : 0;
}
