#include "keymap.h"

#include "event_codes.h"

#include <array>
#include <utility>

namespace {

// evdev code -> key code, each evdev code named as in linux/input-event-codes.h.
constexpr std::pair<unsigned, int64_t> kPositions[] = {
    {1, kKeyEscape},          // ESC
    {2, kKey1},               // 1
    {3, kKey2},               // 2
    {4, kKey3},               // 3
    {5, kKey4},               // 4
    {6, kKey5},               // 5
    {7, kKey6},               // 6
    {8, kKey7},               // 7
    {9, kKey8},               // 8
    {10, kKey9},              // 9
    {11, kKey0},              // 0
    {12, kKeyMinus},          // MINUS
    {13, kKeyEqual},          // EQUAL
    {14, kKeyDelete},         // BACKSPACE
    {15, kKeyTab},            // TAB
    {16, kKeyQ},              // Q
    {17, kKeyW},              // W
    {18, kKeyE},              // E
    {19, kKeyR},              // R
    {20, kKeyT},              // T
    {21, kKeyY},              // Y
    {22, kKeyU},              // U
    {23, kKeyI},              // I
    {24, kKeyO},              // O
    {25, kKeyP},              // P
    {26, kKeyLeftBracket},    // LEFTBRACE
    {27, kKeyRightBracket},   // RIGHTBRACE
    {28, kKeyReturn},         // ENTER
    {29, kKeyControl},        // LEFTCTRL
    {30, kKeyA},              // A
    {31, kKeyS},              // S
    {32, kKeyD},              // D
    {33, kKeyF},              // F
    {34, kKeyG},              // G
    {35, kKeyH},              // H
    {36, kKeyJ},              // J
    {37, kKeyK},              // K
    {38, kKeyL},              // L
    {39, kKeySemicolon},      // SEMICOLON
    {40, kKeyQuote},          // APOSTROPHE
    {41, kKeyGrave},          // GRAVE
    {42, kKeyShift},          // LEFTSHIFT
    {43, kKeyBackslash},      // BACKSLASH
    {44, kKeyZ},              // Z
    {45, kKeyX},              // X
    {46, kKeyC},              // C
    {47, kKeyV},              // V
    {48, kKeyB},              // B
    {49, kKeyN},              // N
    {50, kKeyM},              // M
    {51, kKeyComma},          // COMMA
    {52, kKeyPeriod},         // DOT
    {53, kKeySlash},          // SLASH
    {54, kKeyRightShift},     // RIGHTSHIFT
    {55, kKeyKeypadMultiply}, // KPASTERISK
    {56, kKeyOption},         // LEFTALT
    {57, kKeySpace},          // SPACE
    {58, kKeyCapsLock},       // CAPSLOCK
    {59, kKeyF1},             // F1
    {60, kKeyF2},             // F2
    {61, kKeyF3},             // F3
    {62, kKeyF4},             // F4
    {63, kKeyF5},             // F5
    {64, kKeyF6},             // F6
    {65, kKeyF7},             // F7
    {66, kKeyF8},             // F8
    {67, kKeyF9},             // F9
    {68, kKeyF10},            // F10
    {69, kKeyKeypadClear},    // NUMLOCK
    {71, kKeyKeypad7},        // KP7
    {72, kKeyKeypad8},        // KP8
    {73, kKeyKeypad9},        // KP9
    {74, kKeyKeypadMinus},    // KPMINUS
    {75, kKeyKeypad4},        // KP4
    {76, kKeyKeypad5},        // KP5
    {77, kKeyKeypad6},        // KP6
    {78, kKeyKeypadPlus},     // KPPLUS
    {79, kKeyKeypad1},        // KP1
    {80, kKeyKeypad2},        // KP2
    {81, kKeyKeypad3},        // KP3
    {82, kKeyKeypad0},        // KP0
    {83, kKeyKeypadDecimal},  // KPDOT
    {86, kKeyIsoSection},     // 102ND
    {87, kKeyF11},            // F11
    {88, kKeyF12},            // F12
    {89, kKeyJisUnderscore},  // RO
    {92, kKeyJisKana},        // HENKAN
    {94, kKeyJisEisu},        // MUHENKAN
    {95, kKeyJisKeypadComma}, // KPJPCOMMA
    {96, kKeyKeypadEnter},    // KPENTER
    {97, kKeyRightControl},   // RIGHTCTRL
    {98, kKeyKeypadDivide},   // KPSLASH
    {100, kKeyRightOption},   // RIGHTALT
    {102, kKeyHome},          // HOME
    {103, kKeyUpArrow},       // UP
    {104, kKeyPageUp},        // PAGEUP
    {105, kKeyLeftArrow},     // LEFT
    {106, kKeyRightArrow},    // RIGHT
    {107, kKeyEnd},           // END
    {108, kKeyDownArrow},     // DOWN
    {109, kKeyPageDown},      // PAGEDOWN
    {110, kKeyHelp},          // INSERT
    {111, kKeyForwardDelete}, // DELETE
    {113, kKeyMute},          // MUTE
    {114, kKeyVolumeDown},    // VOLUMEDOWN
    {115, kKeyVolumeUp},      // VOLUMEUP
    {117, kKeyKeypadEquals},  // KPEQUAL
    {124, kKeyJisYen},        // YEN
    {125, kKeyCommand},       // LEFTMETA
    {126, kKeyRightCommand},  // RIGHTMETA
    {127, kKeyContextMenu},   // COMPOSE
    {183, kKeyF13},           // F13
    {184, kKeyF14},           // F14
    {185, kKeyF15},           // F15
    {186, kKeyF16},           // F16
    {187, kKeyF17},           // F17
    {188, kKeyF18},           // F18
    {189, kKeyF19},           // F19
    {190, kKeyF20},           // F20
};

constexpr unsigned kTableSize = 256;

constexpr std::array<int16_t, kTableSize> buildTable() {
    std::array<int16_t, kTableSize> table{};
    table.fill(-1);
    for (const auto& [evdev, mac] : kPositions) {
        table[evdev] = static_cast<int16_t>(mac);
    }
    return table;
}

constexpr std::array<int16_t, kTableSize> kTable = buildTable();

} // namespace

std::optional<int64_t> macKeyFromEvdev(unsigned evdevCode) {
    if (evdevCode >= kTableSize || kTable[evdevCode] < 0) return std::nullopt;
    return kTable[evdevCode];
}

std::optional<int64_t> macKeyFromXKeyCode(unsigned xKeyCode) {
    if (xKeyCode < 8) return std::nullopt;
    return macKeyFromEvdev(xKeyCode - 8);
}
