#pragma once
// The real system behind the assistant's portable logic.

#include "install_operations.h"

#include <memory>
#include <string>

std::unique_ptr<InstallOperations> makeSystemOperations();

// Leaves the host's session and process group, so that the host's exit or a signal to its group
// cannot end the assistant in the middle of the swap. Harmless when already a group leader.
void detachFromSession();

// The working directory; "." when the system cannot name it, so relative paths keep their meaning.
std::string currentDirectory();
