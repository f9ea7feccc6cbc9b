#pragma once
// The platform's keyboard event source. It hands every key event to consider() on the main
// thread, withholds the events that consider() asks to withhold where the platform allows,
// and runs until the process is ended from outside.

struct ListenerState;

// Starts event intake for the given state (its bindings, mode and output) and runs the event
// loop. Returns the exit status should the loop ever end, or 1 (after one line on standard
// error) when no event source can be had.
int runEventIntake(ListenerState& state);
