#include "intake_raw_counter.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <algorithm>
#include <poll.h>

namespace {

long millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return std::max<long>(0, static_cast<long>(left.count()));
}

} // namespace

RawPressCounter::RawPressCounter() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    int event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode_, &event, &error)) {
        XCloseDisplay(display);
        return;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask selection{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &selection, 1);
    XSync(display, False);
    display_ = display;
}

RawPressCounter::~RawPressCounter() {
    if (display_) XCloseDisplay(display_);
}

std::optional<int> RawPressCounter::pressesUntil(unsigned keyCode, unsigned sentinel,
                                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int presses = 0;
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            XGenericEventCookie& cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != opcode_ ||
                !XGetEventData(display_, &cookie))
                continue;
            const auto detail =
                static_cast<unsigned>(static_cast<const XIRawEvent*>(cookie.data)->detail);
            XFreeEventData(display_, &cookie);
            if (detail == keyCode) ++presses;
            if (detail == sentinel) return presses;
        }
        pollfd waiting{ConnectionNumber(display_), POLLIN, 0};
        const long left = millisecondsLeft(deadline);
        if (left == 0) return std::nullopt;
        poll(&waiting, 1, static_cast<int>(left));
    }
}
