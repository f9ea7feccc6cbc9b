// The shipped program runs on the system's operations as they are.
#include "system_operations.h"

std::unique_ptr<InstallOperations> makeAssistantOperations() {
    return makeSystemOperations();
}
