// Custom bindings and shortcut recording.

#include "recognizer.h"

#include "event_codes.h"
#include "state.h"
#include "streams.h"
#include "upper_case.h"

namespace {

enum class Action { None, Trigger, Disarm };

// The modifiers an event holds, worked out once per event rather than once per binding.
struct Held {
    bool fn, command, control, option, shift;
};

Held heldModifiers(uint64_t flags) {
    return {fnHeld(flags), has(flags, kFlagCommand), has(flags, kFlagControl),
            has(flags, kFlagOption), has(flags, kFlagShift)};
}

bool matches(const Binding& binding, const Held& held) {
    return binding.fn == held.fn && binding.command == held.command &&
           binding.control == held.control && binding.option == held.option &&
           binding.shift == held.shift;
}

Action modifierOnlyAction(int32_t type, int64_t key, bool matches) {
    if (type == kFlagsChanged || key == listener.globeKey)
        return matches ? Action::Trigger : Action::Disarm;
    return matches ? Action::None : Action::Disarm;
}

Action keyedAction(int32_t type, int64_t key, uint64_t flags, int64_t bound, bool matches) {
    if (!matches) return Action::Disarm;
    if (type == kKeyDown) return key == bound ? Action::Trigger : Action::None;
    if (type == kKeyUp) return key == bound ? Action::Disarm : Action::None;
    const bool capsToggle =
        key == bound && key == listener.capsKey && has(flags, kFlagCapsLock) != listener.capsLock;
    return capsToggle ? Action::Trigger : Action::None;
}

// Inserts the name and writes its action line unless it is already armed.
void trigger(const std::string& name) {
    if (!listener.customArmed.arm(name)) return;
    if (name == "read")
        emitSpeak();
    else if (name == "translate")
        emitTranslate();
}

void disarm(const std::string& name) {
    listener.customArmed.disarm(name);
}

bool bindingMode(int32_t type, int64_t key, uint64_t flags) {
    bool matched = false;
    const Held held = heldModifiers(flags);
    for (const auto& [name, binding] : listener.bindings) {
        const bool m = matches(binding, held);
        const Action action = binding.keyCode ? keyedAction(type, key, flags, *binding.keyCode, m)
                                              : modifierOnlyAction(type, key, m);
        if (action == Action::Disarm) {
            disarm(name);
        } else if (action == Action::Trigger) {
            trigger(name);
            matched = true;
        }
    }
    return matched;
}

int64_t heldWeight(uint64_t flags) {
    return int64_t{fnHeld(flags)} + has(flags, kFlagControl) + has(flags, kFlagOption) +
           has(flags, kFlagShift) + has(flags, kFlagCommand);
}

void report(int64_t key, uint64_t flags, std::string_view label, bool capsHandled,
            bool completing) {
    Binding recorded{fnHeld(flags),
                     has(flags, kFlagControl),
                     has(flags, kFlagOption),
                     has(flags, kFlagShift),
                     has(flags, kFlagCommand),
                     std::nullopt,
                     {}};
    if (capsHandled) {
        recorded.keyCode = key;
        recorded.keyLabel = "Caps Lock";
    } else {
        if (completing) recorded.keyCode = key;
        auto upper = upperCased(label);
        // A label that is not valid UTF-8 cannot be encoded: this one report is dropped.
        if (!upper) return;
        recorded.keyLabel = std::move(*upper);
    }
    listener.output->out("record:" + encodeBinding(recorded) + "\n");
}

bool recordMode(int32_t type, int64_t key, uint64_t flags, std::string_view label,
                bool capsHandled) {
    const bool fnPart = fnHeld(flags);
    const bool completing =
        type == kKeyDown && !isModifier(key) &&
        (fnPart || has(flags, kFlagControl) || has(flags, kFlagOption) || has(flags, kFlagCommand));
    int64_t weight = heldWeight(flags);
    bool eligible = true;
    if (completing || capsHandled)
        weight += 10;
    else if (weight < 2)
        eligible = false;
    if (eligible && weight >= listener.recordingWeight) {
        listener.recordingWeight = weight;
        report(key, flags, label, capsHandled, completing);
    }
    return capsHandled || completing;
}

} // namespace

bool modifiersMatch(const Binding& binding, uint64_t flags) {
    return matches(binding, heldModifiers(flags));
}

bool customConsider(int32_t type, int64_t key, uint64_t flags, std::string_view label) {
    bool capsHandled = false;
    if (key == listener.capsKey && fnHeld(flags)) {
        if (!restoreCaps(listener.capsLock)) return true;
        capsHandled = true;
    }
    if (listener.recording && type == kKeyDown && key == kKeyEscape) {
        listener.output->out("record-cancel\n");
        return true;
    }
    const bool withheld = listener.recording ? recordMode(type, key, flags, label, capsHandled)
                                             : bindingMode(type, key, flags) || capsHandled;
    if (!fnHeld(flags)) listener.capsLock = has(flags, kFlagCapsLock);
    return withheld;
}
