// The default shortcuts: fn + Control (or Option) speaks, fn + Caps Lock translates.

#include "recognizer.h"

#include "event_codes.h"
#include "state.h"
#include "streams.h"

namespace {

constexpr std::string_view kCapsUnavailable =
    "Caps Lock preservation unavailable; translation not started\n";

void trackGlobe(int32_t type, int64_t keyCode, uint64_t flags) {
    if (keyCode != listener.globeKey) return;
    if (type == kFlagsChanged)
        listener.globeDown = has(flags, kFlagFn);
    else if (type == kKeyUp)
        listener.globeDown = false;
    else if (type == kKeyDown)
        listener.globeDown = true;
}

bool speakChordHeld(uint64_t flags) {
    const uint64_t chord = listener.optionAlias ? kFlagOption : kFlagControl;
    const uint64_t excluded = (kFlagCommand | kFlagShift | kFlagControl | kFlagOption) & ~chord;
    return has(flags, chord) && fnHeld(flags) && (flags & excluded) == 0;
}

bool translateChordHeld(int64_t keyCode, uint64_t flags) {
    const uint64_t excluded = kFlagCommand | kFlagOption | kFlagControl | kFlagShift;
    return keyCode == listener.capsKey && fnHeld(flags) && (flags & excluded) == 0;
}

bool capsEdge(int32_t type, int64_t keyCode, uint64_t flags) {
    if (listener.translateArmed || keyCode != listener.capsKey) return false;
    return type == kKeyDown ||
           (type == kFlagsChanged && has(flags, kFlagCapsLock) != listener.capsLock);
}

void emit(std::string_view action, std::string_view line) {
    if (listener.selfTesting) {
        listener.observed.emplace_back(action);
        return;
    }
    listener.output->out(line);
}

} // namespace

bool fnHeld(uint64_t flags) {
    return has(flags, kFlagFn) || listener.globeDown;
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
    if (!listener.selfTesting && (listener.recording || !listener.bindings.empty())) {
        return customConsider(type, keyCode, flags, label);
    }

    const bool speakHeld = speakChordHeld(flags);
    const bool speakEdge =
        speakHeld && (type == kFlagsChanged || (keyCode == listener.globeKey && type != kKeyUp));
    const bool translateHeld = translateChordHeld(keyCode, flags);
    const bool edge = capsEdge(type, keyCode, flags);

    if (speakEdge && !listener.fnCmdArmed) emitSpeak();
    bool result = false;
    if (translateHeld) {
        result = true;
        if (!restoreCaps(listener.capsLock))
            listener.output->err(kCapsUnavailable);
        else if (edge)
            emitTranslate();
    }

    listener.fnCmdArmed = speakHeld;
    if (fnHeld(flags)) {
        listener.translateArmed = listener.translateArmed || result;
        if (!listener.translateArmed) listener.capsLock = has(flags, kFlagCapsLock);
    } else {
        listener.translateArmed = false;
        listener.capsLock = has(flags, kFlagCapsLock);
    }
    return result;
}
