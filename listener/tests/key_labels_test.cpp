// Key labels from keysyms: what a key-down carries, as AppKit would show it for the same key.

#include "key_labels_x11.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <gtest/gtest.h>

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

TEST(KeypadKeysym, CoversTheKeypadOnly) {
    EXPECT_TRUE(isKeypadKeysym(XKB_KEY_KP_End));
    EXPECT_TRUE(isKeypadKeysym(XKB_KEY_KP_9));
    EXPECT_FALSE(isKeypadKeysym(XKB_KEY_End));
    EXPECT_FALSE(isKeypadKeysym(XKB_KEY_9));
}

} // namespace
