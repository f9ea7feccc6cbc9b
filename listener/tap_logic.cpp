#include "tap_logic.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace {

// clang-format off
constexpr std::array<int64_t, 30> kFnMarkedKeys{
    kKeyF1,  kKeyF2,  kKeyF3,  kKeyF4,  kKeyF5,  kKeyF6,  kKeyF7,  kKeyF8,  kKeyF9,  kKeyF10,
    kKeyF11, kKeyF12, kKeyF13, kKeyF14, kKeyF15, kKeyF16, kKeyF17, kKeyF18, kKeyF19, kKeyF20,
    kKeyLeftArrow, kKeyRightArrow, kKeyDownArrow, kKeyUpArrow,
    kKeyHelp, kKeyHome, kKeyEnd, kKeyPageUp, kKeyPageDown, kKeyForwardDelete};
// clang-format on

std::string labelFor(int32_t type, const KeyEventView& event) {
    return type == kKeyDown ? event.characters() : std::string();
}

} // namespace

bool systemMarksWithFn(int64_t keyCode) {
    return std::find(kFnMarkedKeys.begin(), kFnMarkedKeys.end(), keyCode) != kFnMarkedKeys.end();
}

uint64_t FnKeyState::flagsFor(int32_t type, int64_t keyCode, uint64_t flags) noexcept {
    if (type == kFlagsChanged && keyCode == kKeyFn) fnDown_ = (flags & kFlagFn) != 0;
    const bool keyStroke = type == kKeyDown || type == kKeyUp;
    if (keyStroke && !fnDown_ && systemMarksWithFn(keyCode)) return flags & ~kFlagFn;
    return flags;
}

std::optional<int32_t> typeFromNS(uint64_t nsType) {
    for (const int32_t type : {kKeyDown, kKeyUp, kFlagsChanged}) {
        if (nsType == static_cast<uint64_t>(type)) return type;
    }
    return std::nullopt;
}

uint64_t flagsFromNS(uint64_t nsFlags) {
    return nsFlags & kModifierFlags;
}

TapOutcome tapDecision(IntakeHost& host, FnKeyState& fn, uint32_t type,
                       const KeyEventView& event) noexcept {
    try {
        if (type == kTapDisabledByTimeout || type == kTapDisabledByUserInput) {
            host.reenableTap();
            host.diagnostic("tap re-enabled\n");
            return TapOutcome::passEvent;
        }
        const auto quartzType = static_cast<int32_t>(type);
        const int64_t keyCode = event.keyCode();
        const uint64_t flags = fn.flagsFor(quartzType, keyCode, event.flags());
        const std::string label = labelFor(quartzType, event);
        return host.consider(quartzType, keyCode, flags, label) ? TapOutcome::dropEvent
                                                                : TapOutcome::passEvent;
    } catch (...) {
        // An event that could not be judged is let through: the keyboard keeps working.
        return TapOutcome::passEvent;
    }
}

void monitorDecision(IntakeHost& host, FnKeyState& fn, uint64_t nsType,
                     const KeyEventView& event) noexcept {
    try {
        const std::optional<int32_t> type = typeFromNS(nsType);
        if (!type) return;
        const int64_t keyCode = event.keyCode();
        const uint64_t flags = fn.flagsFor(*type, keyCode, flagsFromNS(event.flags()));
        const std::string label = labelFor(*type, event);
        static_cast<void>(host.consider(*type, keyCode, flags, label));
    } catch (...) {
        // Monitors only watch; a failure here loses one observation and nothing else.
    }
}

ParentWatch armParentWatch(ParentProcess& process, int64_t parentAtStart) noexcept {
    try {
        if (parentAtStart <= 1) return ParentWatch::unwatched;
        const ExitWatch watch = process.watchExit(parentAtStart);
        if (watch == ExitWatch::noSuchProcess) return ParentWatch::parentGone;
        if (process.parent() != parentAtStart) return ParentWatch::parentGone;
        return watch == ExitWatch::armed ? ParentWatch::watching : ParentWatch::unwatched;
    } catch (...) {
        // No watch: the reader's end is still noticed at the next line.
        return ParentWatch::unwatched;
    }
}
