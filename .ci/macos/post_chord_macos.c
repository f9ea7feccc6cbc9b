// Posts the default speak chord, fn + Control pressed and released, as the four flags-changed
// events a keyboard gives for modifier keys. For the CI smoke test of the listener's event tap.
// Exit status: 0 when posted, 3 when this process may not post events, 1 on any other failure.
#include <ApplicationServices/ApplicationServices.h>
#include <stdio.h>
#include <unistd.h>

static int postFlagsChanged(CGKeyCode key, CGEventFlags flags) {
    CGEventRef event = CGEventCreateKeyboardEvent(NULL, key, true);
    if (event == NULL) return 0;
    CGEventSetType(event, kCGEventFlagsChanged);
    CGEventSetFlags(event, flags);
    CGEventPost(kCGHIDEventTap, event);
    CFRelease(event);
    usleep(100000); // one event at a time, as fingers would
    return 1;
}

int main(void) {
    if (!CGPreflightPostEventAccess()) {
        fprintf(stderr, "post-chord: this process may not post events\n");
        return 3;
    }
    const CGEventFlags fn = kCGEventFlagMaskSecondaryFn;
    const CGEventFlags control = kCGEventFlagMaskControl;
    const CGKeyCode fnKey = 63, controlKey = 59;
    if (!postFlagsChanged(fnKey, fn) || !postFlagsChanged(controlKey, fn | control) ||
        !postFlagsChanged(controlKey, fn) || !postFlagsChanged(fnKey, 0)) {
        fprintf(stderr, "post-chord: an event could not be made\n");
        return 1;
    }
    return 0;
}
