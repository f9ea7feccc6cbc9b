// The macOS event sources' decisions, driven with fake events and a fake host.

#include "tap_logic.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Call {
    int32_t type;
    int64_t keyCode;
    uint64_t flags;
    std::string label;
    friend bool operator==(const Call&, const Call&) = default;
};

class FakeHost final : public IntakeHost {
  public:
    bool consider(int32_t type, int64_t keyCode, uint64_t flags, std::string_view label) override {
        calls.push_back(Call{type, keyCode, flags, std::string(label)});
        if (throws) throw std::runtime_error("consider failed");
        return answer;
    }
    void reenableTap() override { ++reenables; }
    void diagnostic(std::string_view line) override { lines.emplace_back(line); }

    bool answer = false;
    bool throws = false;
    int reenables = 0;
    std::vector<Call> calls;
    std::vector<std::string> lines;
};

// An event whose fields are counted when read.
class FakeEvent final : public KeyEventView {
  public:
    FakeEvent(int64_t keyCode, uint64_t flags, std::string characters)
        : keyCode_(keyCode), flags_(flags), characters_(std::move(characters)) {}
    int64_t keyCode() const override {
        ++reads;
        return keyCode_;
    }
    uint64_t flags() const override {
        ++reads;
        return flags_;
    }
    std::string characters() const override {
        ++characterReads;
        return characters_;
    }
    mutable int reads = 0;
    mutable int characterReads = 0;

  private:
    int64_t keyCode_;
    uint64_t flags_;
    std::string characters_;
};

TEST(TypeFromNS, OnlyTheThreeKeyboardTypesMap) {
    for (uint64_t raw = 0; raw < 64; ++raw) {
        const std::optional<int32_t> type = typeFromNS(raw);
        if (raw == 10 || raw == 11 || raw == 12) {
            ASSERT_EQ(type, static_cast<int32_t>(raw)) << raw;
        } else {
            ASSERT_EQ(type, std::nullopt) << raw;
        }
    }
    EXPECT_EQ(typeFromNS(0xFFFFFFFFull + 11), std::nullopt);
}

struct FlagsCase {
    uint64_t ns;
    uint64_t quartz;
};

class FlagsFromNSTest : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(FlagsFromNSTest, KeepsTheSixModifierBitsOnly) {
    EXPECT_EQ(flagsFromNS(GetParam().ns), GetParam().quartz);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlagsFromNSTest,
    ::testing::Values(FlagsCase{0, 0}, FlagsCase{0x10000, 0x10000}, FlagsCase{0x20000, 0x20000},
                      FlagsCase{0x40000, 0x40000}, FlagsCase{0x80000, 0x80000},
                      FlagsCase{0x100000, 0x100000}, FlagsCase{0x800000, 0x800000},
                      FlagsCase{0x200000, 0},             // numeric pad
                      FlagsCase{0x400000, 0},             // help
                      FlagsCase{0x1 | 0x100 | 0x2000, 0}, // device-dependent bits
                      FlagsCase{0xFFFFFFFFFFFFFFFFull, 0x9F0000},
                      FlagsCase{0x840000 | 0x200000 | 0x8, 0x840000}));

TEST(TapDecision, EachDisabledNoticeReenablesWritesOneLineAndPasses) {
    for (const uint32_t notice : {kTapDisabledByTimeout, kTapDisabledByUserInput}) {
        FakeHost host;
        FakeEvent event(57, 0x10000, "x");
        for (int round = 1; round <= 3; ++round) {
            EXPECT_EQ(tapDecision(host, notice, event), TapOutcome::passEvent);
            EXPECT_EQ(host.reenables, round);
        }
        EXPECT_EQ(host.lines, std::vector<std::string>(3, "tap re-enabled\n"));
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(event.reads + event.characterReads, 0) << "a notice carries no key";
    }
}

struct TapCase {
    const char* name;
    uint32_t type;
    int64_t keyCode;
    uint64_t flags;
    const char* characters;
    bool answer;
    Call expectedCall;
    TapOutcome expectedOutcome;
};

class TapDecisionTest : public ::testing::TestWithParam<TapCase> {};

TEST_P(TapDecisionTest, HandsTheTripleToConsiderAndDropsWhenAsked) {
    const TapCase& c = GetParam();
    FakeHost host;
    host.answer = c.answer;
    FakeEvent event(c.keyCode, c.flags, c.characters);
    EXPECT_EQ(tapDecision(host, c.type, event), c.expectedOutcome);
    EXPECT_EQ(host.calls, std::vector<Call>{c.expectedCall});
    EXPECT_EQ(event.characterReads, c.type == 10 ? 1 : 0) << "label only on key down";
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(host.reenables, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TapDecisionTest,
    ::testing::Values(
        TapCase{"keyDownCarriesLabel",
                10,
                0,
                0x100,
                "a",
                false,
                {10, 0, 0x100, "a"},
                TapOutcome::passEvent},
        TapCase{"keyDownWithheld",
                10,
                0,
                0x40000,
                "a",
                true,
                {10, 0, 0x40000, "a"},
                TapOutcome::dropEvent},
        TapCase{"keyDownWithoutCharacters",
                10,
                122,
                0,
                "",
                false,
                {10, 122, 0, ""},
                TapOutcome::passEvent},
        TapCase{"keyUpHasNoLabel", 11, 0, 0, "a", false, {11, 0, 0, ""}, TapOutcome::passEvent},
        TapCase{"keyUpWithheld", 11, 0, 0, "a", true, {11, 0, 0, ""}, TapOutcome::dropEvent},
        // Flags pass with all their bits, those outside the six included.
        TapCase{"capsLockFlagsFull",
                12,
                57,
                0x810000 | 0x100 | 0x20,
                "",
                true,
                {12, 57, 0x810120, ""},
                TapOutcome::dropEvent},
        TapCase{"flagsChangedPasses",
                12,
                59,
                0x840000,
                "",
                false,
                {12, 59, 0x840000, ""},
                TapOutcome::passEvent}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TapDecision, AFailingConsiderLetsTheEventThrough) {
    FakeHost host;
    host.throws = true;
    host.answer = true;
    FakeEvent event(57, 0x810000, "");
    EXPECT_EQ(tapDecision(host, 12, event), TapOutcome::passEvent);
    EXPECT_EQ(host.calls.size(), 1u);
}

struct MonitorCase {
    const char* name;
    uint64_t nsType;
    int64_t keyCode;
    uint64_t nsFlags;
    const char* characters;
    std::vector<Call> expectedCalls;
};

class MonitorDecisionTest : public ::testing::TestWithParam<MonitorCase> {};

TEST_P(MonitorDecisionTest, CarriesSixFlagsAndLabelsOnlyKeyDowns) {
    const MonitorCase& c = GetParam();
    for (const bool answer : {false, true}) {
        FakeHost host;
        host.answer = answer;
        FakeEvent event(c.keyCode, c.nsFlags, c.characters);
        monitorDecision(host, c.nsType, event);
        EXPECT_EQ(host.calls, c.expectedCalls) << "answer " << answer;
        EXPECT_EQ(event.characterReads, c.nsType == 10 ? 1 : 0);
        EXPECT_TRUE(host.lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MonitorDecisionTest,
    ::testing::Values(
        MonitorCase{"keyDown", 10, 0, 0x100100, "a", {{10, 0, 0x100000, "a"}}},
        MonitorCase{"keyDownNumericPadDropped", 10, 82, 0x200000, "0", {{10, 82, 0, "0"}}},
        MonitorCase{"keyUpHelpDropped", 11, 114, 0x400000 | 0x20000, "", {{11, 114, 0x20000, ""}}},
        MonitorCase{"flagsChanged", 12, 57, 0x810000 | 0x4, "", {{12, 57, 0x810000, ""}}},
        MonitorCase{"highKeyCodeStaysPositive", 10, 0xFFFF, 0, "", {{10, 0xFFFF, 0, ""}}},
        MonitorCase{"mouseDownIgnored", 1, 0, 0, "", {}},
        MonitorCase{"appKitDefinedIgnored", 13, 0, 0, "", {}},
        MonitorCase{"systemDefinedIgnored", 14, 0, 0, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MonitorDecision, AFailingConsiderDoesNotEscape) {
    FakeHost host;
    host.throws = true;
    FakeEvent event(0, 0, "a");
    monitorDecision(host, 10, event);
    EXPECT_EQ(host.calls.size(), 1u);
}

} // namespace
