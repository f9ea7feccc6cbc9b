// The default shortcuts: fn + Control (or Option) speaks, fn + Caps Lock translates.

#include "recognizer.h"

#include "state.h"
#include "streams.h"

namespace {

constexpr std::string_view kCapsUnavailable =
    "Caps Lock preservation unavailable; translation not started\n";

void trackGlobe(int32_t type, int64_t keyCode, uint64_t flags) {
    if (keyCode != globeKey) return;
    if (type == kFlagsChanged)
        globeDown = has(flags, kFlagFn);
    else if (type == kKeyUp)
        globeDown = false;
    else if (type == kKeyDown)
        globeDown = true;
}

bool speakChordHeld(uint64_t flags) {
    const uint64_t chord = optionAlias ? kFlagOption : kFlagControl;
    const uint64_t excluded = (kFlagCommand | kFlagShift | kFlagControl | kFlagOption) & ~chord;
    return has(flags, chord) && fnHeld(flags) && (flags & excluded) == 0;
}

bool translateChordHeld(int64_t keyCode, uint64_t flags) {
    const uint64_t excluded = kFlagCommand | kFlagOption | kFlagControl | kFlagShift;
    return keyCode == capsKey && fnHeld(flags) && (flags & excluded) == 0;
}

bool capsEdge(int32_t type, int64_t keyCode, uint64_t flags) {
    if (translateArmed || keyCode != capsKey) return false;
    return type == kKeyDown || (type == kFlagsChanged && has(flags, kFlagCapsLock) != capsLock);
}

void emit(std::string_view action, std::string_view line) {
    if (selfTesting) {
        observed.emplace_back(action);
        return;
    }
    streams->out(line);
}

} // namespace

bool fnHeld(uint64_t flags) {
    return has(flags, kFlagFn) || globeDown;
}

bool has(uint64_t flags, uint64_t mask) {
    return (mask & ~flags) == 0;
}

void emitSpeak() {
    emit("speak", "speak\n");
}

void emitTranslate() {
    emit("translate", "translate\n");
}

bool consider(int32_t type, int64_t keyCode, uint64_t flags, std::string_view label) {
    trackGlobe(type, keyCode, flags);
    if (!selfTesting && (recording || !bindings.empty())) {
        return customConsider(type, keyCode, flags, label);
    }

    const bool speakHeld = speakChordHeld(flags);
    const bool speakEdge =
        speakHeld && (type == kFlagsChanged || (keyCode == globeKey && type != kKeyUp));
    const bool translateHeld = translateChordHeld(keyCode, flags);
    const bool edge = capsEdge(type, keyCode, flags);

    if (speakEdge && !fnCmdArmed) emitSpeak();
    bool result = false;
    if (translateHeld) {
        result = true;
        if (!restoreCaps(capsLock))
            streams->err(kCapsUnavailable);
        else if (edge)
            emitTranslate();
    }

    fnCmdArmed = speakHeld;
    if (fnHeld(flags)) {
        translateArmed = translateArmed || result;
        if (!translateArmed) capsLock = has(flags, kFlagCapsLock);
    } else {
        translateArmed = false;
        capsLock = has(flags, kFlagCapsLock);
    }
    return result;
}
