#include "key_labels_x11.h"

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
