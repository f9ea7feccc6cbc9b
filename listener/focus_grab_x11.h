#pragma once
// While a withheld key is down, the keyboard grab that withholds it sits on the focused window
// instead of the root window. The server activates a key's passive grab on the root window at
// the press, and a grab on the root takes the focus from the focused window for as long as the
// key is held (FocusOut, mode NotifyGrab): its toolkit then tells an accessibility client that
// asks meanwhile (the host's selection probe, run at the line) that nothing has the focus.
// Moved onto the focused window, the grab gives the focus back (FocusIn, mode NotifyGrab) while
// the key events of the hold still come to this client, so nothing withheld reaches the
// application.
//
// The moved grab is no longer the key's passive grab, which the server would end at the key's
// release. It is synchronous instead: the keyboard stops after each event it reports until
// that event is answered here, so the release ends it before any later key is processed, and
// every key typed after the chord reaches the application as it would have.

#include <X11/Xlib.h>

#include <optional>

class FocusGrab {
  public:
    void setDisplay(Display* display) { display_ = display; }

    // While the keyboard is stopped at key `code`'s withheld press: moves the grab onto the
    // focused window, then takes the press and lets the keyboard go on to its next event. Done
    // before the keyboard goes on, so that no later event (the release above all) meets the
    // passive grab. False when no window has the focus or the server refused; the passive grab
    // and the stop then stay as they are, for the caller to answer.
    bool begin(unsigned code);
    // The key whose press moved the grab, while the moved grab lasts.
    std::optional<unsigned> key() const { return key_; }

    // Answers an event the moved grab reported. A release of the key ends the grab; any other
    // event is taken, the keyboard stopping again after the next one.
    void answerRelease(unsigned code);
    // A press during the hold: taken (withheld), or given to the focused window, which ends the
    // grab.
    void answerPress(bool withhold);
    // Ends the moved grab at once; the focus stays where it is.
    void end();

  private:
    Display* display_ = nullptr;
    std::optional<unsigned> key_;
};
