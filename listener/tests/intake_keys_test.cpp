// The X11 source's key bookkeeping: raw key events and XKB state notifications in, the
// listener's triples out; and the plan of key grabs.

#include "intake_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

constexpr unsigned kA = 38, kControl = 37, kShift = 50, kAlt = 64, kSuper = 133, kCaps = 66,
                   kFn = 200, kUnmapped = 250, kReturn = 36;

XKeyTable testKeys() {
    XKeyTable keys{};
    keys[kA] = XKeyInfo{0, false, false, "a"};
    keys[kReturn] = XKeyInfo{36, false, false, "\r"};
    keys[kControl] = XKeyInfo{59, false, false, ""};
    keys[kShift] = XKeyInfo{56, false, false, ""};
    keys[kAlt] = XKeyInfo{58, false, false, ""};
    keys[kSuper] = XKeyInfo{55, false, false, ""};
    keys[kCaps] = XKeyInfo{57, false, true, ""};
    keys[kFn] = XKeyInfo{63, true, false, ""};
    keys[kUnmapped] = XKeyInfo{std::nullopt, false, false, "x"};
    return keys;
}

struct Seen {
    unsigned xKeyCode;
    bool press;
    KeyTriple triple;
    friend bool operator==(const Seen&, const Seen&) = default;
};

void PrintTo(const Seen& seen, std::ostream* os) {
    *os << "{x " << seen.xKeyCode << (seen.press ? " press" : " release") << ": "
        << seen.triple.type << ", " << seen.triple.keyCode << ", 0x" << std::hex
        << seen.triple.flags << std::dec << ", \"" << seen.triple.label << "\"}";
}

class XKeyTrackerTest : public ::testing::Test {
  protected:
    XKeyTrackerTest()
        : tracker([this](unsigned code, bool press, const KeyTriple& triple) {
              seen.push_back(Seen{code, press, triple});
          }) {
        tracker.setKeys(testKeys(), XModifierMasks{});
    }
    // The state notification a key's press or release causes.
    void notify(unsigned code, bool press, unsigned effective, unsigned locked = 0) {
        tracker.stateNotify(code, press, XkbModifiers{effective | locked, locked});
    }
    std::vector<Seen> take() { return std::exchange(seen, {}); }

    std::vector<Seen> seen;
    XKeyTracker tracker;
};

TEST_F(XKeyTrackerTest, OrdinaryKeysGiveKeyDownWithLabelAndKeyUpWithout) {
    tracker.rawKey(kA, true);
    tracker.rawKey(kA, false);
    EXPECT_EQ(take(),
              (std::vector<Seen>{{kA, true, {10, 0, 0, "a"}}, {kA, false, {11, 0, 0, ""}}}));
}

TEST_F(XKeyTrackerTest, AModifierWaitsForItsStateNotification) {
    tracker.rawKey(kControl, true);
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(tracker.hasPending());
    notify(0, true, kXControlMask);  // caused by a program: not the one awaited
    notify(kA, true, kXControlMask); // another key's: not the one awaited either
    EXPECT_TRUE(take().empty());
    notify(kControl, false, kXControlMask); // a release's, not the press's
    EXPECT_TRUE(take().empty());
    notify(kControl, true, kXControlMask);
    EXPECT_EQ(take(), (std::vector<Seen>{{kControl, true, {12, 59, 0x40000, ""}}}));
    EXPECT_FALSE(tracker.hasPending());
    tracker.rawKey(kControl, false);
    notify(kControl, false, 0);
    EXPECT_EQ(take(), (std::vector<Seen>{{kControl, false, {12, 59, 0, ""}}}));
}

TEST_F(XKeyTrackerTest, APendingModifierIsFlushedBeforeTheNextKey) {
    tracker.setState(XkbModifiers{kXShiftMask, 0});
    tracker.rawKey(kControl, true);
    tracker.rawKey(kA, true);
    EXPECT_EQ(take(), (std::vector<Seen>{{kControl, true, {12, 59, 0x20000, ""}},
                                         {kA, true, {10, 0, 0x20000, "a"}}}));
}

TEST_F(XKeyTrackerTest, FlushGivesThePendingModifierOnce) {
    tracker.rawKey(kShift, true);
    tracker.flushPending();
    tracker.flushPending();
    EXPECT_EQ(take(), (std::vector<Seen>{{kShift, true, {12, 56, 0, ""}}}));
}

TEST_F(XKeyTrackerTest, ModifierBitsFollowTheKeymapPlacement) {
    struct Case {
        unsigned effective;
        uint64_t flags;
    };
    const Case cases[] = {{kXShiftMask, 0x20000},
                          {kXControlMask, 0x40000},
                          {kXMod1Mask, 0x80000},
                          {kXMod4Mask, 0x100000},
                          {kXMod2Mask, 0}, // Num Lock has no counterpart
                          {kXLockMask, 0}, // only the locked Lock is Caps Lock
                          {kXShiftMask | kXControlMask | kXMod1Mask | kXMod4Mask, 0x1E0000}};
    for (const Case& c : cases) {
        tracker.setState(XkbModifiers{c.effective, 0});
        EXPECT_EQ(tracker.currentFlags(), c.flags) << c.effective;
    }
    // Alt on Mod3 and Super on Mod5, as some keymaps place them.
    tracker.setKeys(testKeys(), XModifierMasks{1u << 5, 1u << 7, kXMod2Mask});
    tracker.setState(XkbModifiers{1u << 5, 0});
    EXPECT_EQ(tracker.currentFlags(), 0x80000u);
    tracker.setState(XkbModifiers{1u << 7, 0});
    EXPECT_EQ(tracker.currentFlags(), 0x100000u);
    tracker.setState(XkbModifiers{kXMod1Mask, 0});
    EXPECT_EQ(tracker.currentFlags(), 0u);
}

TEST_F(XKeyTrackerTest, TheFnKeysymIsKeySixtyThreeAndItsFlag) {
    tracker.rawKey(kFn, true);
    tracker.flushPending(); // XF86Fn changes no X modifier: no notification comes
    tracker.rawKey(kA, true);
    tracker.rawKey(kA, false);
    tracker.rawKey(kFn, false);
    tracker.flushPending();
    EXPECT_EQ(take(), (std::vector<Seen>{{kFn, true, {12, 63, 0x800000, ""}},
                                         {kA, true, {10, 0, 0x800000, "a"}},
                                         {kA, false, {11, 0, 0x800000, ""}},
                                         {kFn, false, {12, 63, 0, ""}}}));
}

// A keymap change while fn is held (setxkbmap, a keyboard plugged in) may take XF86Fn away:
// the key's release then says nothing of fn, so the change itself releases fn, once.
TEST_F(XKeyTrackerTest, AKeymapThatDropsAHeldFnKeyReleasesFn) {
    tracker.rawKey(kFn, true);
    tracker.flushPending();
    XKeyTable withoutFn = testKeys();
    withoutFn[kFn] = XKeyInfo{std::nullopt, false, false, ""};
    tracker.setKeys(withoutFn, XModifierMasks{});
    tracker.setKeys(withoutFn, XModifierMasks{});
    tracker.rawKey(kFn, false);
    tracker.setKeys(testKeys(), XModifierMasks{});
    tracker.rawKey(kA, true);
    EXPECT_EQ(take(), (std::vector<Seen>{{kFn, true, {12, 63, 0x800000, ""}},
                                         {kFn, false, {12, 63, 0, ""}},
                                         {kA, true, {10, 0, 0, "a"}}}));
}

TEST_F(XKeyTrackerTest, AKeymapThatKeepsAHeldFnKeyGivesNothing) {
    tracker.rawKey(kFn, true);
    tracker.flushPending();
    tracker.setKeys(testKeys(), XModifierMasks{});
    tracker.rawKey(kA, true);
    EXPECT_EQ(take(), (std::vector<Seen>{{kFn, true, {12, 63, 0x800000, ""}},
                                         {kA, true, {10, 0, 0x800000, "a"}}}));
}

// Keys held when the listener starts: fn then counts as held, and their releases are reported.
TEST_F(XKeyTrackerTest, KeysDownAtStartHoldTheirFlagsAndReportTheirRelease) {
    std::array<bool, kXKeyCodeCount> down{};
    down[kFn] = true;
    down[kA] = true;
    tracker.setKeysDown(down);
    EXPECT_TRUE(take().empty());
    tracker.rawKey(kCaps, true);
    notify(kCaps, true, kXLockMask, kXLockMask);
    tracker.rawKey(kA, false);
    tracker.rawKey(kFn, false);
    tracker.flushPending();
    EXPECT_EQ(take(), (std::vector<Seen>{{kCaps, true, {12, 57, 0x810000, ""}},
                                         {kA, false, {11, 0, 0x810000, ""}},
                                         {kFn, false, {12, 63, 0x10000, ""}}}));
}

TEST_F(XKeyTrackerTest, DuplicatedReleasesAndModifierRepeatsGiveNothing) {
    tracker.rawKey(kA, false); // never pressed
    tracker.rawKey(kFn, true);
    tracker.flushPending();
    tracker.rawKey(kFn, true); // a repeat of a modifier
    tracker.rawKey(kFn, false);
    tracker.flushPending();
    tracker.rawKey(kFn, false); // the duplicate release
    tracker.flushPending();
    EXPECT_EQ(take(), (std::vector<Seen>{{kFn, true, {12, 63, 0x800000, ""}},
                                         {kFn, false, {12, 63, 0, ""}}}));
    EXPECT_EQ(tracker.currentFlags(), 0u) << "the fn count must not go below zero";
}

TEST_F(XKeyTrackerTest, OrdinaryKeyRepeatsAreKeyDowns) {
    tracker.rawKey(kReturn, true);
    tracker.rawKey(kReturn, true);
    EXPECT_EQ(take(), (std::vector<Seen>{{kReturn, true, {10, 36, 0, "\r"}},
                                         {kReturn, true, {10, 36, 0, "\r"}}}));
}

TEST_F(XKeyTrackerTest, KeysWithoutACounterpartAreNotReported) {
    tracker.rawKey(kUnmapped, true);
    tracker.rawKey(kUnmapped, false);
    tracker.rawKey(300, true);
    tracker.flushPending();
    EXPECT_TRUE(take().empty());
}

TEST_F(XKeyTrackerTest, CapsLockOffToOnReportsOnAtPressAndRelease) {
    tracker.rawKey(kCaps, true);
    notify(kCaps, true, kXLockMask, kXLockMask); // XKB locks at the press
    tracker.rawKey(kCaps, false);
    notify(kCaps, false, 0, kXLockMask);
    EXPECT_EQ(take(), (std::vector<Seen>{{kCaps, true, {12, 57, 0x10000, ""}},
                                         {kCaps, false, {12, 57, 0x10000, ""}}}));
}

TEST_F(XKeyTrackerTest, CapsLockOnToOffReportsTheToggleAtThePress) {
    tracker.setState(XkbModifiers{kXLockMask, kXLockMask});
    tracker.rawKey(kCaps, true);
    notify(kCaps, true, kXLockMask, kXLockMask); // still locked until the release
    tracker.rawKey(kCaps, false);
    notify(kCaps, false, 0, 0);
    EXPECT_EQ(take(),
              (std::vector<Seen>{{kCaps, true, {12, 57, 0, ""}}, {kCaps, false, {12, 57, 0, ""}}}));
}

TEST_F(XKeyTrackerTest, CapsLockWithFnHeldCarriesBothFlags) {
    tracker.rawKey(kFn, true);
    tracker.rawKey(kCaps, true);
    notify(kCaps, true, kXLockMask, kXLockMask);
    // The listener's restore unlocks it (a notification from no key), then the key is released.
    notify(0, true, 0, 0);
    tracker.rawKey(kCaps, false);
    notify(kCaps, false, 0, 0);
    EXPECT_EQ(take(), (std::vector<Seen>{{kFn, true, {12, 63, 0x800000, ""}},
                                         {kCaps, true, {12, 57, 0x810000, ""}},
                                         {kCaps, false, {12, 57, 0x800000, ""}}}));
}

TEST_F(XKeyTrackerTest, AnExpectedLockStateHoldsUntilItsNotificationOrTheNextCapsPress) {
    tracker.setState(XkbModifiers{0, 0});
    tracker.expectCapsLocked(true);
    EXPECT_EQ(tracker.currentFlags(), 0x10000u);
    notify(kControl, true, kXControlMask); // a key's notification from before the change
    EXPECT_EQ(tracker.currentFlags(), 0x50000u);
    notify(0, true, kXLockMask, kXLockMask); // the change itself
    EXPECT_EQ(tracker.currentFlags(), 0x10000u);
    // The server has the lock on, the source asked for off; before that request is carried
    // out the user presses Caps Lock, which XKB sees as a press that keeps the lock on.
    tracker.expectCapsLocked(false);
    tracker.rawKey(kCaps, true);
    notify(kCaps, true, kXLockMask, kXLockMask);
    EXPECT_EQ(take(), (std::vector<Seen>{{kCaps, true, {12, 57, 0x10000, ""}}}))
        << "toggled from the state asked for";
    notify(0, true, 0, 0); // the late request; from the press on, notifications count again
    EXPECT_EQ(tracker.currentFlags(), 0u);
}

TEST_F(XKeyTrackerTest, LabelsFollowTheActiveGroupAndShiftOnly) {
    XKeyTable keys = testKeys();
    keys[kA].labels.byGroup[0] = {"a", "A"};
    keys[kA].labels.byGroup[1] = {"\u0444", "\u0424"};
    tracker.setKeys(keys, XModifierMasks{});
    struct Case {
        XkbModifiers state;
        const char* label;
    };
    const Case cases[] = {
        {{0, 0, 0}, "a"},
        {{kXShiftMask, 0, 0}, "A"},
        {{0, 0, 1}, "\u0444"},
        {{kXShiftMask, 0, 1}, "\u0424"},
        {{kXControlMask | kXMod1Mask, 0, 1}, "\u0444"}, // other modifiers are ignored
        {{kXLockMask, kXLockMask, 0}, "a"},             // and so is Caps Lock
        {{0, 0, 5}, "\u0444"},                          // groups wrap
    };
    for (const Case& c : cases) {
        tracker.setState(c.state);
        tracker.rawKey(kA, true);
        tracker.rawKey(kA, false);
        const std::vector<Seen> got = take();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].triple.label, c.label) << c.state.effective << " group " << c.state.group;
        EXPECT_EQ(got[1].triple.label, "");
    }
}

TEST_F(XKeyTrackerTest, AltGrCountsAsOption) {
    XModifierMasks masks;
    masks.level3 = 1u << 7;
    tracker.setKeys(testKeys(), masks);
    tracker.setState(XkbModifiers{1u << 7, 0, 0});
    EXPECT_EQ(tracker.currentFlags(), 0x80000u);
    tracker.setState(XkbModifiers{kXMod1Mask, 0, 0});
    EXPECT_EQ(tracker.currentFlags(), 0x80000u);
}

TEST_F(XKeyTrackerTest, RepeatTripleIsForOrdinaryKeysOnly) {
    tracker.setState(XkbModifiers{kXControlMask, 0});
    EXPECT_EQ(tracker.repeatTriple(kA), (KeyTriple{10, 0, 0x40000, "a"}));
    EXPECT_EQ(tracker.repeatTriple(kControl), std::nullopt);
    EXPECT_EQ(tracker.repeatTriple(kCaps), std::nullopt);
    EXPECT_EQ(tracker.repeatTriple(kUnmapped), std::nullopt);
    EXPECT_EQ(tracker.repeatTriple(999), std::nullopt);
}

TEST_F(XKeyTrackerTest, NewKeysKeepTheFnKeysThatAreDown) {
    tracker.rawKey(kFn, true);
    tracker.flushPending();
    tracker.setKeys(testKeys(), XModifierMasks{});
    EXPECT_EQ(tracker.currentFlags(), 0x800000u);
    XKeyTable withoutFn = testKeys();
    withoutFn[kFn] = XKeyInfo{};
    tracker.setKeys(withoutFn, XModifierMasks{});
    EXPECT_EQ(tracker.currentFlags(), 0u);
}

Binding keyed(int64_t key, bool control, bool option, bool shift, bool command, bool fn = false) {
    return Binding{fn, control, option, shift, command, key, ""};
}

TEST(GrabPlan, CapsLockUnderAnyModifiersByDefault) {
    EXPECT_EQ(grabPlan({}, false, {}), (std::vector<GrabRequest>{GrabRequest{57, true, 0}}));
}

TEST(GrabPlan, RecordingGrabsEveryKeyButTheModifiersAndConsultsNoBinding) {
    const BindingMap bindings{{"read", keyed(0, true, false, false, false)}};
    const std::vector<GrabRequest> plan = grabPlan(bindings, true, {});
    ASSERT_EQ(plan.size(), 1u + 54u + 64u);
    EXPECT_EQ(plan.front(), (GrabRequest{57, true, 0}));
    for (int64_t key = 0; key < 128; ++key) {
        const bool grabbed =
            std::find(plan.begin(), plan.end(), GrabRequest{key, true, 0}) != plan.end();
        EXPECT_EQ(grabbed, key < 54 || key > 63 || key == 57) << key;
    }
    EXPECT_EQ(std::count_if(plan.begin(), plan.end(),
                            [](const GrabRequest& r) { return !r.anyModifiers; }),
              0);
}

TEST(GrabPlan, KeyedBindingsUnderTheirExactModifiers) {
    const XModifierMasks masks{1u << 5, 1u << 7, kXMod2Mask};
    const BindingMap bindings{
        {"read", keyed(0, true, false, false, false)},
        {"translate", keyed(12, false, true, true, false, true)},
        {"other", keyed(45, false, false, false, true)},
        {"same", keyed(0, true, false, false, false, true)}, // fn is no X modifier
        {"caps", keyed(57, false, false, true, false)},      // covered by the Caps grab
        {"option", keyed(58, true, false, false, false)},    // a modifier key: never keyed
        {"modifiers", Binding{true, false, true, false, false, std::nullopt, ""}},
    };
    std::vector<GrabRequest> expected{{57, true, 0},
                                      {45, false, 1u << 7},
                                      {0, false, kXControlMask},
                                      {12, false, (1u << 5) | kXShiftMask}};
    // Bindings carry no order, so neither does the plan.
    auto plan = grabPlan(bindings, false, masks);
    const auto byKey = [](const GrabRequest& a, const GrabRequest& b) {
        return std::tie(a.macKey, a.anyModifiers, a.modifiers) <
               std::tie(b.macKey, b.anyModifiers, b.modifiers);
    };
    std::sort(plan.begin(), plan.end(), byKey);
    std::sort(expected.begin(), expected.end(), byKey);
    EXPECT_EQ(plan, expected);
}

TEST(GrabPlan, OptionBindingsAreGrabbedUnderAltAndUnderAltGr) {
    XModifierMasks masks;
    masks.level3 = 1u << 7;
    const BindingMap bindings{{"read", keyed(0, false, true, false, false)},
                              {"other", keyed(1, true, false, false, false)}};
    std::vector<GrabRequest> plan = grabPlan(bindings, false, masks);
    std::sort(plan.begin(), plan.end(), [](const GrabRequest& a, const GrabRequest& b) {
        return std::tie(a.macKey, a.modifiers) < std::tie(b.macKey, b.modifiers);
    });
    EXPECT_EQ(plan, (std::vector<GrabRequest>{{0, false, kXMod1Mask},
                                              {0, false, 1u << 7},
                                              {1, false, kXControlMask},
                                              {57, true, 0}}));
}

TEST(GrabPlan, VariantsAddLockAndNumLock) {
    EXPECT_EQ(grabVariants(kXControlMask, XModifierMasks{}),
              (std::array<unsigned, 4>{4, 6, 20, 22}));
    EXPECT_EQ(grabVariants(0, XModifierMasks{kXMod1Mask, kXMod4Mask, 1u << 5}),
              (std::array<unsigned, 4>{0, 2, 32, 34}));
}

TEST(ModifierMasks, FromTheKeymapsModifierMap) {
    const XModifierMasks usual = modifierMasksFrom([](unsigned) { return 0u; });
    EXPECT_EQ(usual.option, kXMod1Mask);
    EXPECT_EQ(usual.command, kXMod4Mask);
    EXPECT_EQ(usual.numLock, kXMod2Mask);
    const XModifierMasks moved = modifierMasksFrom([](unsigned keysym) {
        switch (keysym) {
        case 0xffea:
            return 1u << 5; // Alt_R on Mod3
        case 0xffeb:
            return 1u << 7; // Super_L on Mod5
        case 0xff7f:
            return kXControlMask | (1u << 6); // only Mod1..Mod5 bits count
        default:
            return 0u;
        }
    });
    EXPECT_EQ(moved.option, 1u << 5);
    EXPECT_EQ(moved.command, 1u << 7);
    EXPECT_EQ(moved.numLock, 1u << 6);
    EXPECT_EQ(moved.level3, 0u);
    const XModifierMasks altGr = modifierMasksFrom([](unsigned keysym) {
        return keysym == 0xfe03 ? (1u << 7) | kXMod1Mask : 0u; // ISO_Level3_Shift
    });
    EXPECT_EQ(altGr.level3, 1u << 7) << "only where Alt is not";
}

} // namespace
