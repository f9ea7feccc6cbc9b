#include "focus_grab_x11.h"

namespace {

// A focused window that is destroyed or unmapped meanwhile makes the request fail; that is
// no reason to end the process, as Xlib's default handler would.
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

bool FocusGrab::begin(unsigned code) {
    if (key_) return true;
    Window focus = None;
    int revertTo = 0;
    XGetInputFocus(display_, &focus, &revertTo);
    if (focus == None || focus == PointerRoot) return false;
    // The focus answer came after every earlier request was done, and the grab's own answer
    // (or its error) comes before its result: no other request's error meets this handler.
    const XErrorHandler previous = XSetErrorHandler(ignoreError);
    const int result =
        XGrabKeyboard(display_, focus, False, GrabModeAsync, GrabModeSync, CurrentTime);
    XSetErrorHandler(previous);
    if (result != GrabSuccess) return false;
    key_ = code;
    // The moved grab starts stopped; the press is taken and the keyboard stops again after the
    // next event.
    XAllowEvents(display_, SyncKeyboard, CurrentTime);
    return true;
}

void FocusGrab::answerRelease(unsigned code) {
    if (!key_) return;
    if (code == *key_) {
        end();
        return;
    }
    XAllowEvents(display_, SyncKeyboard, CurrentTime);
}

void FocusGrab::answerPress(bool withhold) {
    if (!key_) return;
    // Replaying lets go of the grab and hands the press to the focused window.
    XAllowEvents(display_, withhold ? SyncKeyboard : ReplayKeyboard, CurrentTime);
    if (!withhold) key_.reset();
}

void FocusGrab::end() {
    if (!key_) return;
    key_.reset();
    XUngrabKeyboard(display_, CurrentTime);
}
