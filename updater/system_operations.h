#pragma once
// The real system behind the assistant's portable logic.

#include "install_operations.h"

#include <memory>
#include <string>

// Child programs get /dev/null for their standard streams and the environment as it is when this
// is called: call it before anything (a toolkit) changes the process's own environment.
std::unique_ptr<InstallOperations> makeSystemOperations();

// The operations the program runs on, made as makeSystemOperations says. The shipped program
// links assistant_operations.cpp (the system's own); a test variant links its own definition.
std::unique_ptr<InstallOperations> makeAssistantOperations();

// Leaves the host's session and process group, so that the host's exit or a signal to its group
// cannot end the assistant in the middle of the swap. Harmless when already a group leader.
void detachFromSession();

// The working directory; "." when the system cannot name it, so relative paths keep their meaning.
std::string currentDirectory();
