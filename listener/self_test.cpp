#include "self_test.h"

#include "event_codes.h"
#include "recognizer.h"
#include "state.h"

#include <vector>

namespace {

// The chords the scenarios press, as the event sources report them.
constexpr uint64_t kFnControl = kFlagFn | kFlagControl;
constexpr uint64_t kFnOption = kFlagFn | kFlagOption;
constexpr uint64_t kFnCapsLock = kFlagFn | kFlagCapsLock;

bool defaultScenario() {
    consider(kFlagsChanged, kKeyControl, kFnControl);
    consider(kFlagsChanged, kKeyControl, kFnControl);
    const auto afterA2 =
        listener.optionAlias ? std::vector<std::string>{} : std::vector<std::string>{"speak"};
    if (listener.observed != afterA2) return false;
    consider(kFlagsChanged, kKeyControl, 0);
    consider(kFlagsChanged, kKeyOption, kFnOption);
    if (listener.observed.size() != 1) return false;
    consider(kFlagsChanged, kKeyOption, 0);
    const size_t n = listener.observed.size();

    consider(kFlagsChanged, kKeyCapsLock, kFnCapsLock);
    if (listener.observed.size() != n + 1 || listener.observed.back() != "translate" ||
        listener.capsLock)
        return false;
    consider(kFlagsChanged, kKeyCapsLock, kFnCapsLock);
    if (listener.observed.size() != n + 1 ||
        listener.restoredStates != std::vector<bool>{false, false})
        return false;
    consider(kFlagsChanged, kKeyCapsLock, kFnCapsLock);
    if (listener.observed.size() != n + 1 ||
        listener.restoredStates != std::vector<bool>{false, false, false})
        return false;
    consider(kFlagsChanged, kKeyFn, kFlagCapsLock);

    listener.capsLock = true;
    consider(kKeyDown, kKeyCapsLock, kFlagFn);
    consider(kFlagsChanged, kKeyCapsLock, kFlagFn);
    if (listener.observed.size() != n + 2 || !listener.capsLock ||
        listener.restoredStates.size() < 2)
        return false;
    if (!listener.restoredStates[listener.restoredStates.size() - 2] ||
        !listener.restoredStates.back())
        return false;
    consider(kFlagsChanged, kKeyFn, kFnCapsLock);
    return listener.observed.size() == n + 2;
}

bool replacementScenario() {
    listener.observed.clear();
    listener.customArmed.clear();
    listener.globeDown = false;
    listener.capsLock = false;
    listener.bindings = {
        {"read", Binding{true, false, true, false, false, std::nullopt, ""}},
        {"translate", Binding{true, false, false, false, false, kKeyCapsLock, "Caps Lock"}}};

    customConsider(kFlagsChanged, kKeyControl, kFnControl, "");
    if (!listener.observed.empty()) return false;
    customConsider(kFlagsChanged, kKeyOption, kFnOption, "");
    customConsider(kFlagsChanged, kKeyOption, kFnOption, "");
    if (listener.observed != std::vector<std::string>{"speak"}) return false;
    customConsider(kFlagsChanged, kKeyFn, 0, "");
    customConsider(kFlagsChanged, kKeyCapsLock, kFnCapsLock, "");
    customConsider(kFlagsChanged, kKeyCapsLock, kFnCapsLock, "");
    return listener.observed == std::vector<std::string>{"speak", "translate"} &&
           !listener.capsLock;
}

} // namespace

bool selfTestPasses() {
    listener.capsLock = false;
    return defaultScenario() && replacementScenario();
}
