#pragma once
// SIGTERM as an event that an event loop waits for, so that the loop can finish what must not
// be left half done before the process ends as the signal would have ended it.

// The handler only marks the request and makes a pipe readable; everything else runs in the
// loop. Without an installed handler, SIGTERM ends the process at once, as by default.
class TerminationRequest {
  public:
    // Installs the handler; false when it could not be (SIGTERM then keeps its default).
    bool install();
    // Readable once SIGTERM has come; -1 when no handler is installed.
    int fd() const;
    // Whether SIGTERM has come; stays true once it has. Empties the pipe.
    bool requested();
    // Ends the process by SIGTERM with its default action, so that its parent sees the same
    // wait status as before.
    [[noreturn]] static void endBySignal();
};
