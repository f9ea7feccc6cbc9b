// Posts a chord for the CI smoke test of the listener's event tap:
//   post-chord            the default speak chord, fn + Control pressed and released, as the four
//                         flags-changed events a keyboard gives for modifier keys;
//   post-chord keyed      Control+R: Control's flags-changed, R's key down and up, Control's.
// Exit status: 0 when posted, 3 when this process may not post events, 1 on any other failure.
#include <ApplicationServices/ApplicationServices.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int post(CGKeyCode key, CGEventType type, CGEventFlags flags) {
    CGEventRef event = CGEventCreateKeyboardEvent(NULL, key, type != kCGEventKeyUp);
    if (event == NULL) return 0;
    CGEventSetType(event, type);
    CGEventSetFlags(event, flags);
    CGEventPost(kCGHIDEventTap, event);
    CFRelease(event);
    usleep(100000); // one event at a time, as fingers would
    return 1;
}

static int postFlagsChanged(CGKeyCode key, CGEventFlags flags) {
    return post(key, kCGEventFlagsChanged, flags);
}

int main(int argc, char** argv) {
    if (!CGPreflightPostEventAccess()) {
        fprintf(stderr, "post-chord: this process may not post events\n");
        return 3;
    }
    const CGEventFlags fn = kCGEventFlagMaskSecondaryFn;
    const CGEventFlags control = kCGEventFlagMaskControl;
    const CGKeyCode fnKey = 63, controlKey = 59, rKey = 15;
    const int keyed = argc > 1 && strcmp(argv[1], "keyed") == 0;
    const int posted =
        keyed ? postFlagsChanged(controlKey, control) && post(rKey, kCGEventKeyDown, control) &&
                    post(rKey, kCGEventKeyUp, control) && postFlagsChanged(controlKey, 0)
              : postFlagsChanged(fnKey, fn) && postFlagsChanged(controlKey, fn | control) &&
                    postFlagsChanged(controlKey, fn) && postFlagsChanged(fnKey, 0);
    if (!posted) {
        fprintf(stderr, "post-chord: an event could not be made\n");
        return 1;
    }
    return 0;
}
