#include "self_test.h"

#include "recognizer.h"
#include "state.h"

#include <vector>

namespace {

bool defaultScenario() {
    consider(kFlagsChanged, 59, 0x840000);
    consider(kFlagsChanged, 59, 0x840000);
    const auto afterA2 =
        optionAlias ? std::vector<std::string>{} : std::vector<std::string>{"speak"};
    if (observed != afterA2) return false;
    consider(kFlagsChanged, 59, 0);
    consider(kFlagsChanged, 58, 0x880000);
    if (observed.size() != 1) return false;
    consider(kFlagsChanged, 58, 0);
    const size_t n = observed.size();

    consider(kFlagsChanged, 57, 0x810000);
    if (observed.size() != n + 1 || observed.back() != "translate" || capsLock) return false;
    consider(kFlagsChanged, 57, 0x810000);
    if (observed.size() != n + 1 || restoredStates != std::vector<bool>{false, false}) return false;
    consider(kFlagsChanged, 57, 0x810000);
    if (observed.size() != n + 1 || restoredStates != std::vector<bool>{false, false, false})
        return false;
    consider(kFlagsChanged, 63, 0x10000);

    capsLock = true;
    consider(kKeyDown, 57, 0x800000);
    consider(kFlagsChanged, 57, 0x800000);
    if (observed.size() != n + 2 || !capsLock || restoredStates.size() < 2) return false;
    if (!restoredStates[restoredStates.size() - 2] || !restoredStates.back()) return false;
    consider(kFlagsChanged, 63, 0x810000);
    return observed.size() == n + 2;
}

bool replacementScenario() {
    observed.clear();
    customArmed.clear();
    globeDown = false;
    capsLock = false;
    bindings = {{"read", Binding{true, false, true, false, false, std::nullopt, ""}},
                {"translate", Binding{true, false, false, false, false, 57, "Caps Lock"}}};

    customConsider(kFlagsChanged, 59, 0x840000, "");
    if (!observed.empty()) return false;
    customConsider(kFlagsChanged, 58, 0x880000, "");
    customConsider(kFlagsChanged, 58, 0x880000, "");
    if (observed != std::vector<std::string>{"speak"}) return false;
    customConsider(kFlagsChanged, 63, 0, "");
    customConsider(kFlagsChanged, 57, 0x810000, "");
    customConsider(kFlagsChanged, 57, 0x810000, "");
    return observed == std::vector<std::string>{"speak", "translate"} && !capsLock;
}

} // namespace

bool selfTestPasses() {
    capsLock = false;
    return defaultScenario() && replacementScenario();
}
