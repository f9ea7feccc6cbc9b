#include "tap_logic.h"

#include <algorithm>
#include <array>

namespace {

constexpr int32_t kKeyDownType = 10;
constexpr int32_t kKeyUpType = 11;
constexpr int32_t kFlagsChangedType = 12;

// F1 to F20; the left, right, down and up arrows; Help, Home, Page Up, Forward Delete, End and
// Page Down.
constexpr std::array<int64_t, 30> kFnMarkedKeys{122, 120, 99,  118, 96,  97,  98,  100, 101, 109,
                                                103, 111, 105, 107, 113, 106, 64,  79,  80,  90,
                                                123, 124, 125, 126, 114, 115, 116, 117, 119, 121};

std::string labelFor(int32_t type, const KeyEventView& event) {
    return type == kKeyDownType ? event.characters() : std::string();
}

} // namespace

bool systemMarksWithFn(int64_t keyCode) {
    return std::find(kFnMarkedKeys.begin(), kFnMarkedKeys.end(), keyCode) != kFnMarkedKeys.end();
}

uint64_t FnKeyState::flagsFor(int32_t type, int64_t keyCode, uint64_t flags) noexcept {
    if (type == kFlagsChangedType && keyCode == kFnKeyCode) fnDown_ = (flags & kFnFlag) != 0;
    const bool keyStroke = type == kKeyDownType || type == kKeyUpType;
    if (keyStroke && !fnDown_ && systemMarksWithFn(keyCode)) return flags & ~kFnFlag;
    return flags;
}

std::optional<int32_t> typeFromNS(uint64_t nsType) {
    if (nsType == 10 || nsType == 11 || nsType == 12) return static_cast<int32_t>(nsType);
    return std::nullopt;
}

uint64_t flagsFromNS(uint64_t nsFlags) {
    return nsFlags & kSixModifierBits;
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
