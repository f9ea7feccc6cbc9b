#include "intake_keys.h"

#include "event_codes.h"

#include <algorithm>

namespace {

bool reportsFlagsChange(const XKeyInfo& info) {
    return info.fnKey || (info.macKey && isModifier(*info.macKey));
}

} // namespace

void XKeyTracker::setKeys(const XKeyTable& keys, const XModifierMasks& masks) {
    flushPending();
    std::optional<unsigned> droppedFnKey;
    for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
        if (down_[code] && keys_[code].fnKey && !keys[code].fnKey && !droppedFnKey)
            droppedFnKey = code;
    }
    const bool fnWasDown = fnKeysDown_ > 0;
    keys_ = keys;
    masks_ = masks;
    countFnKeysDown();
    // The key's release will not say fn any more: this is the last word on it.
    if (fnWasDown && fnKeysDown_ == 0 && droppedFnKey)
        sink_(*droppedFnKey, false, KeyTriple{kFlagsChanged, kKeyFn, currentFlags(), {}});
}

void XKeyTracker::setKeysDown(const std::array<bool, kXKeyCodeCount>& down) {
    down_ = down;
    countFnKeysDown();
}

void XKeyTracker::countFnKeysDown() {
    fnKeysDown_ = 0;
    for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
        if (down_[code] && keys_[code].fnKey) ++fnKeysDown_;
    }
}

uint64_t XKeyTracker::currentFlags() const {
    uint64_t flags = 0;
    if (state_.effective & kXShiftMask) flags |= kFlagShift;
    if (state_.effective & kXControlMask) flags |= kFlagControl;
    if (state_.effective & (masks_.option | masks_.level3)) flags |= kFlagOption;
    if (state_.effective & masks_.command) flags |= kFlagCommand;
    if (capsLocked()) flags |= kFlagCapsLock;
    if (fnKeysDown_ > 0) flags |= kFlagFn;
    return flags;
}

void XKeyTracker::rawKey(unsigned xKeyCode, bool press) {
    flushPending();
    if (xKeyCode >= kXKeyCodeCount) return;
    const XKeyInfo& info = keys_[xKeyCode];
    const bool wasDown = down_[xKeyCode];
    // Duplicated releases and presses are folded so that the fn count stays exact.
    if (!press && !wasDown) return;
    down_[xKeyCode] = press;
    if (info.fnKey && press && !wasDown) ++fnKeysDown_;
    if (info.fnKey && !press && wasDown) --fnKeysDown_;
    if (!info.macKey) return;
    if (reportsFlagsChange(info)) {
        if (press && wasDown) return; // modifiers report changes, not repeats
        // A press toggles the state the event source last asked for, even when the server
        // has not carried the request out yet; from then on the server's notifications count.
        pending_ = Pending{xKeyCode, press, capsLocked()};
        if (press && info.capsLockKey) lockedOverride_.reset();
        return;
    }
    sink_(xKeyCode, press,
          KeyTriple{press ? kKeyDown : kKeyUp, *info.macKey, currentFlags(),
                    press ? currentLabel(info) : std::string()});
}

const std::string& XKeyTracker::currentLabel(const XKeyInfo& info) const {
    return info.labels.at(state_.group, (state_.effective & kXShiftMask) != 0);
}

bool XKeyTracker::capsLocked() const {
    return lockedOverride_ ? *lockedOverride_ : (state_.locked & kXLockMask) != 0;
}

void XKeyTracker::stateNotify(unsigned xKeyCode, bool press, const XkbModifiers& state) {
    state_ = state;
    if (xKeyCode == 0) lockedOverride_.reset();
    if (pending_ && xKeyCode != 0 && pending_->xKeyCode == xKeyCode && pending_->press == press) {
        flushPending();
    }
}

void XKeyTracker::flushPending() {
    if (!pending_) return;
    const Pending pending = *pending_;
    pending_.reset();
    sink_(pending.xKeyCode, pending.press, modifierTriple(pending));
}

std::optional<KeyTriple> XKeyTracker::repeatTriple(unsigned xKeyCode) const {
    if (xKeyCode >= kXKeyCodeCount) return std::nullopt;
    const XKeyInfo& info = keys_[xKeyCode];
    if (!info.macKey || reportsFlagsChange(info)) return std::nullopt;
    return KeyTriple{kKeyDown, *info.macKey, currentFlags(), currentLabel(info)};
}

KeyTriple XKeyTracker::modifierTriple(const Pending& pending) const {
    const XKeyInfo& info = keys_[pending.xKeyCode];
    uint64_t flags = currentFlags();
    // XKB locks Caps Lock at a press but unlocks it only at the release; the listener reports
    // the toggle at the press, where macOS reports it, so its flag shows the state to come.
    if (info.capsLockKey && pending.press && (state_.locked & kXLockMask)) {
        flags = pending.lockedBefore ? (flags & ~kFlagCapsLock) : (flags | kFlagCapsLock);
    }
    return KeyTriple{kFlagsChanged, info.fnKey ? kKeyFn : *info.macKey, flags, std::string()};
}

std::vector<GrabRequest> grabPlan(const BindingMap& bindings, bool recording,
                                  const XModifierMasks& masks) {
    std::vector<GrabRequest> plan{GrabRequest{kKeyCapsLock, true, 0}};
    if (recording) {
        // Any key may complete the chord being recorded, and Escape cancels it.
        for (int64_t macKey = 0; macKey < kKeyCodeLimit; ++macKey) {
            if (!isModifier(macKey)) plan.push_back(GrabRequest{macKey, true, 0});
        }
        return plan;
    }
    for (const auto& entry : bindings) {
        const Binding& binding = entry.second;
        if (!binding.keyCode || isModifier(*binding.keyCode)) continue;
        unsigned modifiers = 0;
        if (binding.shift) modifiers |= kXShiftMask;
        if (binding.control) modifiers |= kXControlMask;
        if (binding.command) modifiers |= masks.command;
        const auto add = [&](unsigned withOption) {
            const GrabRequest request{*binding.keyCode, false, modifiers | withOption};
            if (std::find(plan.begin(), plan.end(), request) == plan.end()) plan.push_back(request);
        };
        add(binding.option ? masks.option : 0);
        // Option held through AltGr is Option too.
        if (binding.option && masks.level3) add(masks.level3);
    }
    return plan;
}

std::array<unsigned, 4> grabVariants(unsigned modifiers, const XModifierMasks& masks) {
    return {modifiers, modifiers | kXLockMask, modifiers | masks.numLock,
            modifiers | kXLockMask | masks.numLock};
}
