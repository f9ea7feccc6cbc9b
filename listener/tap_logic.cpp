#include "tap_logic.h"

namespace {

constexpr int32_t kKeyDownType = 10;

std::string labelFor(int32_t type, const KeyEventView& event) {
    return type == kKeyDownType ? event.characters() : std::string();
}

} // namespace

std::optional<int32_t> typeFromNS(uint64_t nsType) {
    if (nsType == 10 || nsType == 11 || nsType == 12) return static_cast<int32_t>(nsType);
    return std::nullopt;
}

uint64_t flagsFromNS(uint64_t nsFlags) {
    return nsFlags & kSixModifierBits;
}

TapOutcome tapDecision(IntakeHost& host, uint32_t type, const KeyEventView& event) noexcept {
    try {
        if (type == kTapDisabledByTimeout || type == kTapDisabledByUserInput) {
            host.reenableTap();
            host.diagnostic("tap re-enabled\n");
            return TapOutcome::passEvent;
        }
        const auto quartzType = static_cast<int32_t>(type);
        const int64_t keyCode = event.keyCode();
        const uint64_t flags = event.flags();
        const std::string label = labelFor(quartzType, event);
        return host.consider(quartzType, keyCode, flags, label) ? TapOutcome::dropEvent
                                                                : TapOutcome::passEvent;
    } catch (...) {
        // An event that could not be judged is let through: the keyboard keeps working.
        return TapOutcome::passEvent;
    }
}

void monitorDecision(IntakeHost& host, uint64_t nsType, const KeyEventView& event) noexcept {
    try {
        const std::optional<int32_t> type = typeFromNS(nsType);
        if (!type) return;
        const int64_t keyCode = event.keyCode();
        const uint64_t flags = flagsFromNS(event.flags());
        const std::string label = labelFor(*type, event);
        static_cast<void>(host.consider(*type, keyCode, flags, label));
    } catch (...) {
        // Monitors only watch; a failure here loses one observation and nothing else.
    }
}
