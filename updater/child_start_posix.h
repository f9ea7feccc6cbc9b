#pragma once
// What both systems' child starts share: the starting side of the report pipe, and the ends a
// child process makes. Only async-signal-safe calls, so that a forked child may use them.

#include <sys/types.h>

// Reads the started process's report pipe (report, closed here) to its end. No bytes mean that
// the program runs: 0. Else the error number the process wrote; it has then ended, and is waited
// for here.
int awaitStartReport(pid_t started, int report);

// Writes the error number for awaitStartReport and ends the process with status 127.
[[noreturn]] void reportStartFailure(int report, int error);

// Unblocks every signal: a process forked from a thread that blocks them (a dispatch worker on
// macOS) inherits that mask. 0 or the error number.
int unblockAllSignals();

// Ends this process the way status (a wait status) says another ended: by the same signal, or
// with the same exit code. A signal the mask blocks would stay pending, so it is unblocked first.
[[noreturn]] void endAsStatusSays(int status);
