// The table of physical key positions to key codes, and which of those keys are modifiers.

#include "event_codes.h"
#include "keymap.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

struct Position {
    const char* name;
    unsigned evdev;
    int64_t mac;
};

class KeymapTest : public ::testing::TestWithParam<Position> {};

TEST_P(KeymapTest, MapsThePositionAndItsXKeyCode) {
    const Position& p = GetParam();
    EXPECT_EQ(macKeyFromEvdev(p.evdev), p.mac);
    EXPECT_EQ(macKeyFromXKeyCode(p.evdev + 8), p.mac);
}

// Every position of the table. Codes from the macOS virtual key code list, positions from
// linux/input-event-codes.h.
INSTANTIATE_TEST_SUITE_P(
    Table, KeymapTest,
    ::testing::Values(
        Position{"A", 30, 0}, Position{"S", 31, 1}, Position{"D", 32, 2}, Position{"F", 33, 3},
        Position{"H", 35, 4}, Position{"G", 34, 5}, Position{"Z", 44, 6}, Position{"Q", 16, 12},
        Position{"Y", 21, 16}, Position{"T", 20, 17}, Position{"One", 2, 18},
        Position{"Five", 6, 23}, Position{"Six", 7, 22}, Position{"Zero", 11, 29},
        Position{"O", 24, 31}, Position{"Return", 28, 36}, Position{"L", 38, 37},
        Position{"J", 36, 38}, Position{"K", 37, 40}, Position{"N", 49, 45}, Position{"M", 50, 46},
        Position{"Tab", 15, 48}, Position{"Space", 57, 49}, Position{"Grave", 41, 50},
        Position{"Backspace", 14, 51}, Position{"Escape", 1, 53}, Position{"RightMeta", 126, 54},
        Position{"LeftMeta", 125, 55}, Position{"LeftShift", 42, 56}, Position{"CapsLock", 58, 57},
        Position{"LeftAlt", 56, 58}, Position{"LeftCtrl", 29, 59}, Position{"RightShift", 54, 60},
        Position{"RightAlt", 100, 61}, Position{"RightCtrl", 97, 62}, Position{"F1", 59, 122},
        Position{"F5", 63, 96}, Position{"F12", 88, 111}, Position{"Keypad0", 82, 82},
        Position{"KeypadEnter", 96, 76}, Position{"Left", 105, 123}, Position{"Up", 103, 126},
        Position{"Delete", 111, 117}, Position{"Iso102nd", 86, 10}, Position{"Two", 3, 19},
        Position{"Three", 4, 20}, Position{"Four", 5, 21}, Position{"Seven", 8, 26},
        Position{"Eight", 9, 28}, Position{"Nine", 10, 25}, Position{"Minus", 12, 27},
        Position{"Equal", 13, 24}, Position{"W", 17, 13}, Position{"E", 18, 14},
        Position{"R", 19, 15}, Position{"U", 22, 32}, Position{"I", 23, 34}, Position{"P", 25, 35},
        Position{"Leftbrace", 26, 33}, Position{"Rightbrace", 27, 30},
        Position{"Semicolon", 39, 41}, Position{"Apostrophe", 40, 39},
        Position{"Backslash", 43, 42}, Position{"X", 45, 7}, Position{"C", 46, 8},
        Position{"V", 47, 9}, Position{"B", 48, 11}, Position{"Comma", 51, 43},
        Position{"Dot", 52, 47}, Position{"Slash", 53, 44}, Position{"Keypadasterisk", 55, 67},
        Position{"F2", 60, 120}, Position{"F3", 61, 99}, Position{"F4", 62, 118},
        Position{"F6", 64, 97}, Position{"F7", 65, 98}, Position{"F8", 66, 100},
        Position{"F9", 67, 101}, Position{"F10", 68, 109}, Position{"Numlock", 69, 71},
        Position{"Keypad7", 71, 89}, Position{"Keypad8", 72, 91}, Position{"Keypad9", 73, 92},
        Position{"Keypadminus", 74, 78}, Position{"Keypad4", 75, 86}, Position{"Keypad5", 76, 87},
        Position{"Keypad6", 77, 88}, Position{"Keypadplus", 78, 69}, Position{"Keypad1", 79, 83},
        Position{"Keypad2", 80, 84}, Position{"Keypad3", 81, 85}, Position{"Keypaddot", 83, 65},
        Position{"F11", 87, 103}, Position{"Ro", 89, 94}, Position{"Henkan", 92, 104},
        Position{"Muhenkan", 94, 102}, Position{"Keypadjpcomma", 95, 95},
        Position{"Keypadslash", 98, 75}, Position{"Home", 102, 115}, Position{"Pageup", 104, 116},
        Position{"Right", 106, 124}, Position{"End", 107, 119}, Position{"Down", 108, 125},
        Position{"Pagedown", 109, 121}, Position{"Insert", 110, 114}, Position{"Mute", 113, 74},
        Position{"Volumedown", 114, 73}, Position{"Volumeup", 115, 72},
        Position{"Keypadequal", 117, 81}, Position{"Yen", 124, 93}, Position{"Compose", 127, 110},
        Position{"F13", 183, 105}, Position{"F14", 184, 107}, Position{"F15", 185, 113},
        Position{"F16", 186, 106}, Position{"F17", 187, 64}, Position{"F18", 188, 79},
        Position{"F19", 189, 80}, Position{"F20", 190, 90}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Keymap, NoTwoPositionsShareAMacKey) {
    std::map<int64_t, unsigned> seen;
    for (unsigned evdev = 0; evdev < 256; ++evdev) {
        const std::optional<int64_t> mac = macKeyFromEvdev(evdev);
        if (!mac) continue;
        EXPECT_GE(*mac, 0);
        EXPECT_LE(*mac, 127);
        const auto [it, fresh] = seen.emplace(*mac, evdev);
        EXPECT_TRUE(fresh) << "evdev " << evdev << " and " << it->second << " both give " << *mac;
    }
    EXPECT_GT(seen.size(), 100u);
}

TEST(Keymap, OutsideTheTableGivesNothing) {
    EXPECT_EQ(macKeyFromEvdev(0), std::nullopt);  // KEY_RESERVED
    EXPECT_EQ(macKeyFromEvdev(84), std::nullopt); // unused code
    EXPECT_EQ(macKeyFromEvdev(256), std::nullopt);
    EXPECT_EQ(macKeyFromEvdev(464), std::nullopt); // KEY_FN, beyond X key codes
    for (unsigned x = 0; x < 8; ++x)
        EXPECT_EQ(macKeyFromXKeyCode(x), std::nullopt) << x;
    EXPECT_EQ(macKeyFromXKeyCode(200), std::nullopt); // the spare code the tests use for fn
}

// The keys whose changes come as flags-changed events: those at the positions of modifier keys,
// and fn, which has no position of its own; no other key.
TEST(Keymap, ModifiersAreTheKeysAtModifierPositionsAndFn) {
    // LEFTCTRL, LEFTSHIFT, RIGHTSHIFT, LEFTALT, CAPSLOCK, RIGHTCTRL, RIGHTALT, LEFTMETA, RIGHTMETA
    const std::set<unsigned> modifierPositions{29, 42, 54, 56, 58, 97, 100, 125, 126};
    for (unsigned evdev = 0; evdev < 256; ++evdev) {
        if (const std::optional<int64_t> mac = macKeyFromEvdev(evdev)) {
            EXPECT_EQ(isModifier(*mac), modifierPositions.count(evdev) == 1) << "evdev " << evdev;
        }
    }
    EXPECT_TRUE(isModifier(63)) << "fn";
}

} // namespace
