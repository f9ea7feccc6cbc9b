#pragma once
// The X11 event source's bookkeeping, over plain values: which X keys are down, the XKB
// modifier state, and how each raw key event becomes the listener's event triple. No X header
// is included, so all of it is unit-tested on every system; event_intake_x11.cpp feeds it.

#include "binding.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Core X modifier mask bits, as the protocol numbers them.
inline constexpr unsigned kXShiftMask = 1u << 0;
inline constexpr unsigned kXLockMask = 1u << 1;
inline constexpr unsigned kXControlMask = 1u << 2;
inline constexpr unsigned kXMod1Mask = 1u << 3;
inline constexpr unsigned kXMod2Mask = 1u << 4;
inline constexpr unsigned kXMod4Mask = 1u << 6;

// Where the keymap put Alt, Super and Num Lock; the usual places unless the keymap says else.
// AltGr (ISO_Level3_Shift) is the right Option key of a Mac keyboard: its modifier also counts
// as Option, but bindings with Option are grabbed under both masks, never under both at once.
struct XModifierMasks {
    unsigned option = kXMod1Mask;
    unsigned command = kXMod4Mask;
    unsigned numLock = kXMod2Mask;
    unsigned level3 = 0; // AltGr's modifier when it is not Alt's
};

inline constexpr unsigned kXkbGroupCount = 4;

// A key's characters ignoring modifiers other than Shift, for each layout group, without and
// with Shift. Built from one text, every group and level shows that text.
struct KeyLabels {
    std::array<std::array<std::string, 2>, kXkbGroupCount> byGroup{};
    KeyLabels() = default;
    KeyLabels(const char* same) : KeyLabels(std::string(same)) {}
    KeyLabels(const std::string& same) {
        for (auto& group : byGroup)
            group = {same, same};
    }
    const std::string& at(unsigned group, bool shifted) const {
        return byGroup[group % kXkbGroupCount][shifted ? 1 : 0];
    }
};

// What the listener knows of one X key code under the current keymap.
struct XKeyInfo {
    std::optional<int64_t> macKey; // none: the key has no counterpart and is not reported
    bool fnKey = false;            // its level-0 keysym is XF86Fn (macKey is then kKeyFn)
    bool capsLockKey = false;      // its level-0 keysym is Caps_Lock (macKey is then kKeyCapsLock)
    KeyLabels labels;              // its characters in each group, as a key-down's label
};

inline constexpr unsigned kXKeyCodeCount = 256;
using XKeyTable = std::array<XKeyInfo, kXKeyCodeCount>;

// The XKB modifier state as a state notification (or a state query) gives it.
struct XkbModifiers {
    unsigned effective = 0; // base | latched | locked
    unsigned locked = 0;
    unsigned group = 0; // the effective layout group, 0 to 3
};

struct KeyTriple {
    int32_t type = 0;
    int64_t keyCode = 0;
    uint64_t flags = 0;
    std::string label;
    friend bool operator==(const KeyTriple&, const KeyTriple&) = default;
};

// Turns X raw key events and XKB state notifications, taken in the order the server sent
// them, into triples handed to the sink. A modifier key's triple waits for the state
// notification that the key caused, so that its flags are the state after the change;
// flushPending() gives it with the state as known when no such notification comes. Any other
// event flushes the pending one first, so the sink sees triples in key order.
class XKeyTracker {
  public:
    // Gets each triple with the X key code and whether it came from a press.
    using Sink = std::function<void(unsigned xKeyCode, bool press, const KeyTriple&)>;
    explicit XKeyTracker(Sink sink) : sink_(std::move(sink)) {}

    // A new keymap. When it takes the fn keysym from every fn key that is down, the sink gets
    // fn's release (a flags-changed event of kKeyFn without the fn flag), as the key's own
    // release would have given, so that no recognizer keeps fn held.
    void setKeys(const XKeyTable& keys, const XModifierMasks& masks);
    // The keys that are down before any event comes (those held when the listener starts);
    // nothing is given for them, but an fn key among them holds fn.
    void setKeysDown(const std::array<bool, kXKeyCodeCount>& down);
    void setState(const XkbModifiers& state) { state_ = state; }

    // A raw key press or release. Ordinary keys give their triple at once; a modifier key's
    // event is kept pending. Releases of keys that are not down, repeated presses of modifier
    // keys and keys without a macOS counterpart give nothing.
    void rawKey(unsigned xKeyCode, bool press);

    // The event source has asked the server to lock or unlock Caps Lock: until the state
    // notification of that change (one caused by no key) or the next Caps Lock press, the
    // flags show the lock state asked for, not the one a notification showed before.
    void expectCapsLocked(bool locked) { lockedOverride_ = locked; }

    // An XKB state notification caused by a press or release of the given key (0: caused by
    // a program, not a key). Gives the pending triple when this is the one it waited for.
    void stateNotify(unsigned xKeyCode, bool press, const XkbModifiers& state);

    // Gives the pending triple, if any, with the state as now known.
    void flushPending();
    bool hasPending() const { return pending_.has_value(); }

    // The key-down triple of a further press of a key that is down (a repeat the raw events
    // did not report); none for modifier keys and keys without a counterpart.
    std::optional<KeyTriple> repeatTriple(unsigned xKeyCode) const;

    // The listener flags for the current state.
    uint64_t currentFlags() const;
    bool isDown(unsigned xKeyCode) const { return xKeyCode < kXKeyCodeCount && down_[xKeyCode]; }
    // Whether Caps Lock is locked, as far as known.
    bool capsLocked() const;
    const XKeyInfo& key(unsigned xKeyCode) const { return keys_[xKeyCode]; }

  private:
    struct Pending {
        unsigned xKeyCode;
        bool press;
        bool lockedBefore;
    };
    KeyTriple modifierTriple(const Pending& pending) const;
    void countFnKeysDown();
    const std::string& currentLabel(const XKeyInfo& info) const;

    Sink sink_;
    XKeyTable keys_{};
    XModifierMasks masks_{};
    XkbModifiers state_{};
    std::array<bool, kXKeyCodeCount> down_{};
    std::optional<bool> lockedOverride_;
    unsigned fnKeysDown_ = 0;
    std::optional<Pending> pending_;
};

// One passive grab: a macOS key code and the X modifier mask that must be held exactly, or
// any modifiers at all.
struct GrabRequest {
    int64_t macKey = 0;
    bool anyModifiers = false;
    unsigned modifiers = 0;
    friend bool operator==(const GrabRequest&, const GrabRequest&) = default;
};

// The keys to grab so that the events the recognizers withhold can be withheld: Caps Lock
// under any modifiers, and each keyed binding's key under its exact modifiers; in recording,
// where any key may complete a chord, every key other than the modifier keys under any
// modifiers. Modifier keys other than Caps Lock are never grabbed (their changes are always
// delivered). No duplicates.
std::vector<GrabRequest> grabPlan(const BindingMap& bindings, bool recording,
                                  const XModifierMasks& masks);

// The four masks under which an exact grab is made: as given, with Lock, with Num Lock, with
// both, so that the lock states do not change what is caught.
std::array<unsigned, 4> grabVariants(unsigned modifiers, const XModifierMasks& masks);

// Alt, Super, Num Lock and AltGr as the keymap's modifier map places them. `modmapOfKeysym`
// gives, for a keysym, the OR of the modifier-map bits of the keys that carry it at level 0.
template <typename ModmapOfKeysym>
XModifierMasks modifierMasksFrom(ModmapOfKeysym modmapOfKeysym) {
    XModifierMasks masks;
    constexpr unsigned kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb, kSuperR = 0xffec,
                       kNumLock = 0xff7f, kLevel3Shift = 0xfe03;
    const unsigned alt = modmapOfKeysym(kAltL) | modmapOfKeysym(kAltR);
    const unsigned super = modmapOfKeysym(kSuperL) | modmapOfKeysym(kSuperR);
    const unsigned numLock = modmapOfKeysym(kNumLock);
    // Shift, Lock and Control are fixed by the protocol; only Mod1 to Mod5 are placed.
    constexpr unsigned kModN = 0xF8;
    if (alt & kModN) masks.option = alt & kModN;
    if (super & kModN) masks.command = super & kModN;
    if (numLock & kModN) masks.numLock = numLock & kModN;
    const unsigned level3 = modmapOfKeysym(kLevel3Shift) & kModN & ~masks.option;
    if (level3) masks.level3 = level3;
    return masks;
}
