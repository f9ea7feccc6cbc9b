#include "recognizer.h"
#include "state.h"

bool restoreCaps(bool wanted) {
    if (listener.selfTesting) {
        listener.restoredStates.push_back(wanted);
        return true;
    }
    if (listener.hidConnection == nullptr) return false;
    // A failed read does not stop the attempt: the set below still runs.
    if (listener.hidConnection->capsLocked() == wanted) return true;
    if (!listener.hidConnection->setCapsLocked(wanted)) return false;
    return listener.hidConnection->capsLocked() == wanted;
}
