#include "recognizer.h"
#include "state.h"

bool restoreCaps(bool state) {
    if (selfTesting) {
        restoredStates.push_back(state);
        return true;
    }
    if (hidConnection == nullptr) return false;
    // A failed read does not stop the attempt: the set below still runs.
    if (hidConnection->capsLocked() == state) return true;
    if (!hidConnection->setCapsLocked(state)) return false;
    return hidConnection->capsLocked() == state;
}
