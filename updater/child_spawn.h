#pragma once
// Starting a child program that cannot outlive the assistant: however the assistant ends, a kill
// of its process id alone included, the child is killed with it, so that nothing keeps writing
// beside the target once the assistant is gone. Nothing here throws.

#include <sys/types.h>

// Starts program (argv[0] first, environment envp) with /dev/null as standard input and output,
// errorOutput as standard error (/dev/null when -1) and no blocked signals. 0 and the id to wait
// for in child; else the error number, and nothing runs. The id's exit status is the program's:
// its exit code, or the signal that ended it.
int startChildTiedToAssistant(pid_t& child, const char* program, char* const argv[],
                              char* const envp[], int errorOutput);
