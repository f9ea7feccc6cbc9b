#include "self_test.h"

#include "event_codes.h"
#include "recognizer.h"
#include "state.h"

#include <vector>

namespace {

bool defaultScenario() {
    consider(kFlagsChanged, 59, 0x840000);
    consider(kFlagsChanged, 59, 0x840000);
    const auto afterA2 =
        listener.optionAlias ? std::vector<std::string>{} : std::vector<std::string>{"speak"};
    if (listener.observed != afterA2) return false;
    consider(kFlagsChanged, 59, 0);
    consider(kFlagsChanged, 58, 0x880000);
    if (listener.observed.size() != 1) return false;
    consider(kFlagsChanged, 58, 0);
    const size_t n = listener.observed.size();

    consider(kFlagsChanged, 57, 0x810000);
    if (listener.observed.size() != n + 1 || listener.observed.back() != "translate" ||
        listener.capsLock)
        return false;
    consider(kFlagsChanged, 57, 0x810000);
    if (listener.observed.size() != n + 1 ||
        listener.restoredStates != std::vector<bool>{false, false})
        return false;
    consider(kFlagsChanged, 57, 0x810000);
    if (listener.observed.size() != n + 1 ||
        listener.restoredStates != std::vector<bool>{false, false, false})
        return false;
    consider(kFlagsChanged, 63, 0x10000);

    listener.capsLock = true;
    consider(kKeyDown, 57, 0x800000);
    consider(kFlagsChanged, 57, 0x800000);
    if (listener.observed.size() != n + 2 || !listener.capsLock ||
        listener.restoredStates.size() < 2)
        return false;
    if (!listener.restoredStates[listener.restoredStates.size() - 2] ||
        !listener.restoredStates.back())
        return false;
    consider(kFlagsChanged, 63, 0x810000);
    return listener.observed.size() == n + 2;
}

bool replacementScenario() {
    listener.observed.clear();
    listener.customArmed.clear();
    listener.globeDown = false;
    listener.capsLock = false;
    listener.bindings = {{"read", Binding{true, false, true, false, false, std::nullopt, ""}},
                         {"translate", Binding{true, false, false, false, false, 57, "Caps Lock"}}};

    customConsider(kFlagsChanged, 59, 0x840000, "");
    if (!listener.observed.empty()) return false;
    customConsider(kFlagsChanged, 58, 0x880000, "");
    customConsider(kFlagsChanged, 58, 0x880000, "");
    if (listener.observed != std::vector<std::string>{"speak"}) return false;
    customConsider(kFlagsChanged, 63, 0, "");
    customConsider(kFlagsChanged, 57, 0x810000, "");
    customConsider(kFlagsChanged, 57, 0x810000, "");
    return listener.observed == std::vector<std::string>{"speak", "translate"} &&
           !listener.capsLock;
}

} // namespace

bool selfTestPasses() {
    listener.capsLock = false;
    return defaultScenario() && replacementScenario();
}
