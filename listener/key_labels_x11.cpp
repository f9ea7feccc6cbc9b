#include "key_labels_x11.h"

#include "event_codes.h"
#include "keymap.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace {

std::string utf8Of(char32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// Keysyms whose label is fixed rather than converted, with the code point that stands for them.
constexpr std::pair<uint32_t, char32_t> kFixed[] = {
    {XKB_KEY_Up, 0xF700},
    {XKB_KEY_Down, 0xF701},
    {XKB_KEY_Left, 0xF702},
    {XKB_KEY_Right, 0xF703},
    {XKB_KEY_Insert, 0xF727},
    {XKB_KEY_Delete, 0xF728},
    {XKB_KEY_Home, 0xF729},
    {XKB_KEY_Begin, 0xF72A},
    {XKB_KEY_End, 0xF72B},
    {XKB_KEY_Prior, 0xF72C},
    {XKB_KEY_Next, 0xF72D},
    {XKB_KEY_Print, 0xF72E},
    {XKB_KEY_Scroll_Lock, 0xF72F},
    {XKB_KEY_Pause, 0xF730},
    {XKB_KEY_Sys_Req, 0xF731},
    {XKB_KEY_Break, 0xF732},
    {XKB_KEY_Menu, 0xF735},
    {XKB_KEY_Help, 0xF746},
    {XKB_KEY_BackSpace, 0x7F},
    {XKB_KEY_KP_Enter, 0x03},
    // Dead keys: the accent as a spacing character.
    {XKB_KEY_dead_grave, 0x60},
    {XKB_KEY_dead_acute, 0xB4},
    {XKB_KEY_dead_circumflex, 0x5E},
    {XKB_KEY_dead_tilde, 0x7E},
    {XKB_KEY_dead_macron, 0xAF},
    {XKB_KEY_dead_breve, 0x2D8},
    {XKB_KEY_dead_abovedot, 0x2D9},
    {XKB_KEY_dead_diaeresis, 0xA8},
    {XKB_KEY_dead_abovering, 0x2DA},
    {XKB_KEY_dead_doubleacute, 0x2DD},
    {XKB_KEY_dead_caron, 0x2C7},
    {XKB_KEY_dead_cedilla, 0xB8},
    {XKB_KEY_dead_ogonek, 0x2DB},
};

// The key's own group for an effective group beyond its groups, as the server picks it.
unsigned keyGroup(XkbDescPtr keyboard, KeyCode code, unsigned group) {
    const unsigned groups = XkbKeyNumGroups(keyboard, code);
    if (group < groups) return group;
    const unsigned info = XkbKeyGroupInfo(keyboard, code);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
        return groups - 1;
    case XkbRedirectIntoRange: {
        const unsigned target = XkbOutOfRangeGroupNumber(info);
        return target < groups ? target : 0;
    }
    default:
        return group % groups;
    }
}

// The level that Shift alone selects in the key's type for that group; 0 without Shift.
unsigned shiftLevel(XkbDescPtr keyboard, KeyCode code, unsigned group) {
    const XkbKeyTypePtr type = XkbKeyKeyType(keyboard, code, group);
    if (!type) return 0;
    for (int entry = 0; entry < type->map_count; ++entry) {
        const XkbKTMapEntryRec& map = type->map[entry];
        if (map.active && map.mods.mask == ShiftMask) return map.level;
    }
    return 0;
}

KeySym keysymAt(XkbDescPtr keyboard, KeyCode code, unsigned group, unsigned level) {
    if (level >= static_cast<unsigned>(XkbKeyGroupWidth(keyboard, code, group))) return NoSymbol;
    return XkbKeySymEntry(keyboard, code, level, group);
}

// What a key-down of the key shows in the effective group, with or without Shift, ignoring
// every other modifier (AltGr included), as AppKit's characters ignoring modifiers do.
std::string labelAt(XkbDescPtr keyboard, KeyCode code, unsigned effectiveGroup, bool shifted) {
    if (XkbKeyNumGroups(keyboard, code) == 0) return std::string();
    const unsigned group = keyGroup(keyboard, code, effectiveGroup);
    const KeySym keysym =
        keysymAt(keyboard, code, group, shifted ? shiftLevel(keyboard, code, group) : 0);
    std::string label = keysymLabel(static_cast<uint32_t>(keysym));
    if (!label.empty() || !isKeypadKeysym(static_cast<uint32_t>(keysym))) return label;
    // A Mac keypad has no Num Lock: its keys always give their digits and signs.
    const int width = XkbKeyGroupWidth(keyboard, code, group);
    for (int level = 0; level < width; ++level) {
        const auto other = static_cast<uint32_t>(keysymAt(keyboard, code, group, level));
        if (isKeypadKeysym(other) && !(label = keysymLabel(other)).empty()) return label;
    }
    return label;
}

// The modifier keys that macOS can put on its Caps Lock key, by their keysyms; none for
// every other keysym.
std::optional<int64_t> macModifierOf(KeySym keysym) {
    switch (keysym) {
    case XK_Control_L:
        return kKeyControl;
    case XK_Control_R:
        return kKeyRightControl;
    case XK_Shift_L:
        return kKeyShift;
    case XK_Shift_R:
        return kKeyRightShift;
    case XK_Alt_L:
    case XK_Meta_L:
        return kKeyOption;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:
        return kKeyRightOption;
    case XK_Super_L:
        return kKeyCommand;
    case XK_Super_R:
        return kKeyRightCommand;
    default:
        return std::nullopt;
    }
}

} // namespace

std::string keysymLabel(uint32_t keysym) {
    if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F35)
        return utf8Of(0xF704 + (keysym - XKB_KEY_F1));
    for (const auto& [fixed, code] : kFixed) {
        if (fixed == keysym) return utf8Of(code);
    }
    std::array<char, 16> buffer{};
    const int size = xkb_keysym_to_utf8(keysym, buffer.data(), buffer.size());
    // The size counts the terminating NUL; 0 means the keysym has no characters.
    return size > 1 ? std::string(buffer.data(), static_cast<size_t>(size - 1)) : std::string();
}

bool isKeypadKeysym(uint32_t keysym) {
    return keysym >= XKB_KEY_KP_Space && keysym <= XKB_KEY_KP_9;
}

KeyLabels labelsOf(XkbDescPtr keyboard, KeyCode code) {
    KeyLabels labels;
    for (unsigned group = 0; group < kXkbGroupCount; ++group) {
        labels.byGroup[group] = {labelAt(keyboard, code, group, false),
                                 labelAt(keyboard, code, group, true)};
    }
    return labels;
}

std::optional<int64_t> macKeyOf(unsigned code, KeySym keysym) {
    if (keysym == XKB_KEY_XF86Fn) return kKeyFn;
    if (keysym == XK_Caps_Lock) return kKeyCapsLock;
    if (keysym == XK_Escape) return kKeyEscape;
    const std::optional<int64_t> byPosition = macKeyFromXKeyCode(code);
    // Caps Lock is a keysym, not a place: the Caps Lock position with another keysym is the
    // modifier that keysym names, or no key (ctrl:nocaps, caps:none), as when macOS remaps it.
    if (byPosition == kKeyCapsLock) return macModifierOf(keysym);
    return byPosition;
}
