// Key labels from keysyms: what a key-down carries, as AppKit would show it for the same key.

#include "key_labels_x11.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct Case {
    uint32_t keysym;
    const char* label;
};

class KeysymLabel : public ::testing::TestWithParam<Case> {};

TEST_P(KeysymLabel, IsWhatAppKitShowsForTheKey) {
    EXPECT_EQ(keysymLabel(GetParam().keysym), GetParam().label) << std::hex << GetParam().keysym;
}

INSTANTIATE_TEST_SUITE_P(Characters, KeysymLabel,
                         ::testing::Values(Case{XKB_KEY_a, "a"}, Case{XKB_KEY_A, "A"},
                                           Case{XKB_KEY_exclam, "!"},
                                           Case{XKB_KEY_Cyrillic_ef, "\u0444"},
                                           Case{XKB_KEY_Return, "\r"}, Case{XKB_KEY_Tab, "\t"},
                                           Case{XKB_KEY_Escape, "\x1b"}, Case{XKB_KEY_KP_1, "1"},
                                           Case{XKB_KEY_KP_Divide, "/"}));

INSTANTIATE_TEST_SUITE_P(
    FunctionKeys, KeysymLabel,
    ::testing::Values(Case{XKB_KEY_F1, "\uF704"}, Case{XKB_KEY_F12, "\uF70F"},
                      Case{XKB_KEY_F35, "\uF726"}, Case{XKB_KEY_Up, "\uF700"},
                      Case{XKB_KEY_Down, "\uF701"}, Case{XKB_KEY_Left, "\uF702"},
                      Case{XKB_KEY_Right, "\uF703"}, Case{XKB_KEY_Delete, "\uF728"},
                      Case{XKB_KEY_Home, "\uF729"}, Case{XKB_KEY_Next, "\uF72D"},
                      Case{XKB_KEY_Help, "\uF746"}, Case{XKB_KEY_BackSpace, "\x7f"},
                      Case{XKB_KEY_KP_Enter, "\x03"}));

INSTANTIATE_TEST_SUITE_P(DeadKeys, KeysymLabel,
                         ::testing::Values(Case{XKB_KEY_dead_acute, "\u00b4"},
                                           Case{XKB_KEY_dead_grave, "`"},
                                           Case{XKB_KEY_dead_circumflex, "^"},
                                           Case{XKB_KEY_dead_diaeresis, "\u00a8"},
                                           Case{XKB_KEY_dead_caron, "\u02c7"}));

INSTANTIATE_TEST_SUITE_P(Nothing, KeysymLabel,
                         ::testing::Values(Case{XKB_KEY_Shift_L, ""},
                                           Case{XKB_KEY_ISO_Level3_Shift, ""},
                                           Case{XKB_KEY_KP_End, ""}, Case{XKB_KEY_NoSymbol, ""},
                                           Case{XKB_KEY_XF86Fn, ""}));

// A key is Caps Lock by its keysym only: the Caps Lock position (X key code 66) with another
// keysym is the modifier it names or no key; fn, Caps Lock and Escape are theirs anywhere.
struct MacKeyCase {
    const char* name;
    unsigned code;
    uint32_t keysym;
    std::optional<int64_t> macKey;
};

void PrintTo(const MacKeyCase& value, std::ostream* os) {
    *os << value.name;
}

class MacKeyOf : public ::testing::TestWithParam<MacKeyCase> {};

TEST_P(MacKeyOf, FollowsTheKeysymWhereItSaysWhatTheKeyIs) {
    EXPECT_EQ(macKeyOf(GetParam().code, GetParam().keysym), GetParam().macKey);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MacKeyOf,
    ::testing::Values(MacKeyCase{"CapsLockAtItsPlace", 66, XKB_KEY_Caps_Lock, 57},
                      MacKeyCase{"CapsLockOnLeftControl", 37, XKB_KEY_Caps_Lock, 57},
                      MacKeyCase{"ControlAtCapsLock", 66, XKB_KEY_Control_L, 59},
                      MacKeyCase{"SuperAtCapsLock", 66, XKB_KEY_Super_L, 55},
                      MacKeyCase{"AltGrAtCapsLock", 66, XKB_KEY_ISO_Level3_Shift, 61},
                      MacKeyCase{"NothingAtCapsLock", 66, XKB_KEY_NoSymbol, std::nullopt},
                      MacKeyCase{"VoidAtCapsLock", 66, XKB_KEY_VoidSymbol, std::nullopt},
                      MacKeyCase{"BackSpaceAtCapsLock", 66, XKB_KEY_BackSpace, std::nullopt},
                      MacKeyCase{"EscapeAtCapsLock", 66, XKB_KEY_Escape, 53},
                      MacKeyCase{"FnAnywhere", 200, XKB_KEY_XF86Fn, 63},
                      MacKeyCase{"LeftControlByPlace", 37, XKB_KEY_Control_L, 59},
                      MacKeyCase{"AByPlace", 38, XKB_KEY_q, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeypadKeysym, CoversTheKeypadOnly) {
    EXPECT_TRUE(isKeypadKeysym(XKB_KEY_KP_End));
    EXPECT_TRUE(isKeypadKeysym(XKB_KEY_KP_9));
    EXPECT_FALSE(isKeypadKeysym(XKB_KEY_End));
    EXPECT_FALSE(isKeypadKeysym(XKB_KEY_9));
}

} // namespace
