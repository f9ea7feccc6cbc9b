#include "keymap.h"

#include <array>
#include <utility>

namespace {

// evdev code -> macOS virtual key code. The evdev names are those of linux/input-event-codes.h.
constexpr std::pair<unsigned, int16_t> kPositions[] = {
    {1, 53},    // ESC
    {2, 18},    // 1
    {3, 19},    // 2
    {4, 20},    // 3
    {5, 21},    // 4
    {6, 23},    // 5
    {7, 22},    // 6
    {8, 26},    // 7
    {9, 28},    // 8
    {10, 25},   // 9
    {11, 29},   // 0
    {12, 27},   // MINUS
    {13, 24},   // EQUAL
    {14, 51},   // BACKSPACE (Delete)
    {15, 48},   // TAB
    {16, 12},   // Q
    {17, 13},   // W
    {18, 14},   // E
    {19, 15},   // R
    {20, 17},   // T
    {21, 16},   // Y
    {22, 32},   // U
    {23, 34},   // I
    {24, 31},   // O
    {25, 35},   // P
    {26, 33},   // LEFTBRACE
    {27, 30},   // RIGHTBRACE
    {28, 36},   // ENTER (Return)
    {29, 59},   // LEFTCTRL
    {30, 0},    // A
    {31, 1},    // S
    {32, 2},    // D
    {33, 3},    // F
    {34, 5},    // G
    {35, 4},    // H
    {36, 38},   // J
    {37, 40},   // K
    {38, 37},   // L
    {39, 41},   // SEMICOLON
    {40, 39},   // APOSTROPHE
    {41, 50},   // GRAVE
    {42, 56},   // LEFTSHIFT
    {43, 42},   // BACKSLASH
    {44, 6},    // Z
    {45, 7},    // X
    {46, 8},    // C
    {47, 9},    // V
    {48, 11},   // B
    {49, 45},   // N
    {50, 46},   // M
    {51, 43},   // COMMA
    {52, 47},   // DOT
    {53, 44},   // SLASH
    {54, 60},   // RIGHTSHIFT
    {55, 67},   // KPASTERISK
    {56, 58},   // LEFTALT (Option)
    {57, 49},   // SPACE
    {58, 57},   // CAPSLOCK
    {59, 122},  // F1
    {60, 120},  // F2
    {61, 99},   // F3
    {62, 118},  // F4
    {63, 96},   // F5
    {64, 97},   // F6
    {65, 98},   // F7
    {66, 100},  // F8
    {67, 101},  // F9
    {68, 109},  // F10
    {69, 71},   // NUMLOCK (keypad Clear)
    {71, 89},   // KP7
    {72, 91},   // KP8
    {73, 92},   // KP9
    {74, 78},   // KPMINUS
    {75, 86},   // KP4
    {76, 87},   // KP5
    {77, 88},   // KP6
    {78, 69},   // KPPLUS
    {79, 83},   // KP1
    {80, 84},   // KP2
    {81, 85},   // KP3
    {82, 82},   // KP0
    {83, 65},   // KPDOT
    {86, 10},   // 102ND (ISO section)
    {87, 103},  // F11
    {88, 111},  // F12
    {89, 94},   // RO (JIS underscore)
    {92, 104},  // HENKAN (JIS kana)
    {94, 102},  // MUHENKAN (JIS eisu)
    {95, 95},   // KPJPCOMMA
    {96, 76},   // KPENTER
    {97, 62},   // RIGHTCTRL
    {98, 75},   // KPSLASH
    {100, 61},  // RIGHTALT (right Option)
    {102, 115}, // HOME
    {103, 126}, // UP
    {104, 116}, // PAGEUP
    {105, 123}, // LEFT
    {106, 124}, // RIGHT
    {107, 119}, // END
    {108, 125}, // DOWN
    {109, 121}, // PAGEDOWN
    {110, 114}, // INSERT (Help on Mac extended keyboards)
    {111, 117}, // DELETE (forward delete)
    {113, 74},  // MUTE
    {114, 73},  // VOLUMEDOWN
    {115, 72},  // VOLUMEUP
    {117, 81},  // KPEQUAL
    {124, 93},  // YEN
    {125, 55},  // LEFTMETA (Command)
    {126, 54},  // RIGHTMETA (right Command)
    {127, 110}, // COMPOSE (context menu)
    {183, 105}, // F13
    {184, 107}, // F14
    {185, 113}, // F15
    {186, 106}, // F16
    {187, 64},  // F17
    {188, 79},  // F18
    {189, 80},  // F19
    {190, 90},  // F20
};

constexpr unsigned kTableSize = 256;

constexpr std::array<int16_t, kTableSize> buildTable() {
    std::array<int16_t, kTableSize> table{};
    table.fill(-1);
    for (const auto& [evdev, mac] : kPositions) {
        table[evdev] = mac;
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

bool isModifierKey(int64_t macKey) {
    return macKey >= 54 && macKey <= 63;
}
