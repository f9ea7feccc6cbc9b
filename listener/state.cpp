#include "state.h"

int64_t globeKey = 63;
int64_t capsKey = 57;
bool optionAlias = false;
bool selfTesting = false;
std::vector<std::string> observed;
std::vector<bool> restoredStates;
LockState* hidConnection = nullptr;
bool capsLock = false;
bool recording = false;
BindingMap bindings;
ArmedNames customArmed;
int64_t recordingWeight = 0;
bool globeDown = false;
bool fnCmdArmed = false;
bool translateArmed = false;

void resetListenerState() {
    globeKey = 63;
    capsKey = 57;
    optionAlias = false;
    selfTesting = false;
    observed.clear();
    restoredStates.clear();
    hidConnection = nullptr;
    capsLock = false;
    recording = false;
    bindings.clear();
    customArmed.clear();
    recordingWeight = 0;
    globeDown = false;
    fnCmdArmed = false;
    translateArmed = false;
}
