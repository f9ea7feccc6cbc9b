#pragma once
// What both systems' child starts share: the fork and both sides of the report pipe, and the
// ends a child process makes. Only async-signal-safe calls, so that a forked child may use them.

#include <functional>
#include <sys/types.h>

// What the forked process does: it is given the assistant's process id and the report pipe's
// write end, and never returns (it executes a program or ends through reportStartFailure).
// Called in the forked process: only an indirect call, nothing allocated.
using StartInFork = std::function<void(pid_t assistant, int report)>;

// Forks a process that runs start, and reads the report pipe (report[0] and report[1], both
// close-on-exec, both closed here) to its end. No bytes mean that the program runs: 0, and
// started is the new process. Else the error number (of the fork, or the one the process
// wrote; it has then ended, and is waited for here); started is left as it was.
int forkAndAwaitStart(pid_t& started, const int report[2], const StartInFork& start);

// Writes the error number for forkAndAwaitStart and ends the process with status 127.
[[noreturn]] void reportStartFailure(int report, int error);

// Unblocks every signal: a process forked from a thread that blocks them (a dispatch worker on
// macOS) inherits that mask. 0 or the error number.
int unblockAllSignals();

// Ends this process the way status (a wait status) says another ended: by the same signal, or
// with the same exit code. A signal the mask blocks would stay pending, so it is unblocked first.
[[noreturn]] void endAsStatusSays(int status);
