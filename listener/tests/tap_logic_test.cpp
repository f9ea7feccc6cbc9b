// The macOS event sources' decisions, driven with fake events and a fake host.

#include "tap_logic.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
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
        FnKeyState fn;
        FakeEvent event(57, 0x10000, "x");
        for (int round = 1; round <= 3; ++round) {
            EXPECT_EQ(tapDecision(host, fn, notice, event), TapOutcome::passEvent);
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
    FnKeyState fn;
    host.answer = c.answer;
    FakeEvent event(c.keyCode, c.flags, c.characters);
    EXPECT_EQ(tapDecision(host, fn, c.type, event), c.expectedOutcome);
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
    FnKeyState fn;
    host.throws = true;
    host.answer = true;
    FakeEvent event(57, 0x810000, "");
    EXPECT_EQ(tapDecision(host, fn, 12, event), TapOutcome::passEvent);
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
        FnKeyState fn;
        host.answer = answer;
        FakeEvent event(c.keyCode, c.nsFlags, c.characters);
        monitorDecision(host, fn, c.nsType, event);
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
    FnKeyState fn;
    host.throws = true;
    FakeEvent event(0, 0, "a");
    monitorDecision(host, fn, 10, event);
    EXPECT_EQ(host.calls.size(), 1u);
}

// The fn flag that macOS puts on F-keys, arrows and navigation keys, through either source
// (the tap gives Quartz flags, the monitors AppKit flags; the bits used here are the same).
enum class Source { tap, monitors };

void PrintTo(Source source, std::ostream* out) {
    *out << (source == Source::tap ? "tap" : "monitors");
}

struct Fed {
    int32_t type;
    int64_t keyCode;
    uint64_t flags;
};

// The flags each event reached consider() with, the events fed in order through one source.
std::vector<uint64_t> flagsSeen(Source source, const std::vector<Fed>& events) {
    FakeHost host;
    FnKeyState fn;
    for (const Fed& fed : events) {
        const FakeEvent event(fed.keyCode, fed.flags, "");
        if (source == Source::tap)
            tapDecision(host, fn, static_cast<uint32_t>(fed.type), event);
        else
            monitorDecision(host, fn, static_cast<uint64_t>(fed.type), event);
    }
    std::vector<uint64_t> flags;
    for (const Call& call : host.calls)
        flags.push_back(call.flags);
    return flags;
}

constexpr uint64_t kFn = 0x800000;
constexpr uint64_t kControl = 0x40000;
constexpr uint64_t kShift = 0x20000;
constexpr Fed fnDown{12, 63, kFn};
constexpr Fed fnUp{12, 63, 0};

struct NamedKey {
    const char* name;
    int64_t keyCode;
    friend void PrintTo(const NamedKey& key, std::ostream* out) { *out << key.name; }
};

std::string keyAndSource(const ::testing::TestParamInfo<std::tuple<NamedKey, Source>>& info) {
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == Source::tap ? "Tap" : "Monitors");
}

// Virtual key codes as Apple's Events.h names them (kVK_F1 = 0x7A, ...).
// clang-format off
constexpr NamedKey kSystemMarkedKeys[] = {
    {"F1", 0x7A}, {"F2", 0x78}, {"F3", 0x63}, {"F4", 0x76}, {"F5", 0x60}, {"F6", 0x61},
    {"F7", 0x62}, {"F8", 0x64}, {"F9", 0x65}, {"F10", 0x6D}, {"F11", 0x67}, {"F12", 0x6F},
    {"F13", 0x69}, {"F14", 0x6B}, {"F15", 0x71}, {"F16", 0x6A}, {"F17", 0x40}, {"F18", 0x4F},
    {"F19", 0x50}, {"F20", 0x5A}, {"LeftArrow", 0x7B}, {"RightArrow", 0x7C},
    {"DownArrow", 0x7D}, {"UpArrow", 0x7E}, {"Home", 0x73}, {"End", 0x77}, {"PageUp", 0x74},
    {"PageDown", 0x79}, {"ForwardDelete", 0x75}, {"Help", 0x72}};
// Neighbours and keys often confused with them, the modifiers among them.
constexpr NamedKey kUnmarkedKeys[] = {
    {"A", 0x00}, {"Return", 0x24}, {"Delete", 0x33}, {"Escape", 0x35}, {"Keypad0", 0x52},
    {"JISEisu", 0x66}, {"JISKana", 0x68}, {"Code110", 0x6E}, {"Code112", 0x70},
    {"Code127", 0x7F}, {"CapsLock", 0x39}, {"Fn", 0x3F}};
// clang-format on

class SystemFnFlagTest : public ::testing::TestWithParam<std::tuple<NamedKey, Source>> {};

TEST_P(SystemFnFlagTest, KeptOnlyWhileFnIsDown) {
    const auto [key, source] = GetParam();
    const int64_t code = key.keyCode;
    // A stroke with fn up, held, and released again; Control and Shift held besides, so only
    // the fn bit may change.
    const uint64_t marked = kFn | kControl | kShift;
    const uint64_t plain = kControl | kShift;
    const Fed down{10, code, marked};
    const Fed up{11, code, marked};
    EXPECT_EQ(flagsSeen(source, {down, up, fnDown, down, up, fnUp, down, up}),
              (std::vector<uint64_t>{plain, plain, kFn, marked, marked, 0, plain, plain}));
    // fn pressed or released in the middle of the stroke decides its release.
    EXPECT_EQ(flagsSeen(source, {{10, code, kFn}, fnDown, {11, code, kFn}, fnUp}),
              (std::vector<uint64_t>{0, kFn, kFn, 0}));
    EXPECT_EQ(flagsSeen(source, {fnDown, {10, code, kFn}, fnUp, {11, code, kFn}}),
              (std::vector<uint64_t>{kFn, kFn, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Keys, SystemFnFlagTest,
                         ::testing::Combine(::testing::ValuesIn(kSystemMarkedKeys),
                                            ::testing::Values(Source::tap, Source::monitors)),
                         keyAndSource);

// Other keys keep the fn bit as given, fn seen or not: a letter with the bit is fn + letter even
// when fn's own press was never seen (fn held since before the start).
class UnmarkedKeyFnFlagTest : public ::testing::TestWithParam<std::tuple<NamedKey, Source>> {};

TEST_P(UnmarkedKeyFnFlagTest, KeepsTheFlagsAsGiven) {
    const auto [key, source] = GetParam();
    const int64_t code = key.keyCode;
    const uint64_t marked = kFn | kControl;
    EXPECT_EQ(flagsSeen(source, {{10, code, marked},
                                 {11, code, marked},
                                 {10, code, kControl},
                                 fnDown,
                                 {10, code, marked},
                                 fnUp,
                                 {11, code, marked}}),
              (std::vector<uint64_t>{marked, marked, kControl, kFn, marked, 0, marked}));
}

INSTANTIATE_TEST_SUITE_P(Keys, UnmarkedKeyFnFlagTest,
                         ::testing::Combine(::testing::ValuesIn(kUnmarkedKeys),
                                            ::testing::Values(Source::tap, Source::monitors)),
                         keyAndSource);

// Chords users press with Control, as the recognizers are handed them.
TEST(FnFlag, ControlChordsWithMarkedKeysHoldNoFn) {
    for (const Source source : {Source::tap, Source::monitors}) {
        // Control + F5 is Control with F5, as a binding of it expects.
        EXPECT_EQ(flagsSeen(source, {{12, 59, kControl}, {10, 96, kFn | kControl}}),
                  (std::vector<uint64_t>{kControl, kControl}))
            << ::testing::PrintToString(source);
        // Control with an arrow, then fn: the speak chord appears first at fn's press.
        EXPECT_EQ(flagsSeen(source, {{12, 59, kControl},
                                     {10, 124, kFn | kControl},
                                     {11, 124, kFn | kControl},
                                     {12, 63, kFn | kControl}}),
                  (std::vector<uint64_t>{kControl, kControl, kControl, kFn | kControl}))
            << ::testing::PrintToString(source);
        // A modifier change keeps fn as given: fn held since before the start still counts.
        EXPECT_EQ(flagsSeen(source, {{12, 59, kFn | kControl}}),
                  (std::vector<uint64_t>{kFn | kControl}))
            << ::testing::PrintToString(source);
    }
}

// The parent watch, against a system whose answers and call order are recorded.
class FakeParentProcess final : public ParentProcess {
  public:
    ExitWatch watchExit(int64_t pid) override {
        calls.push_back("watch " + std::to_string(pid));
        if (throws) throw std::runtime_error("kevent failed");
        return watch;
    }
    int64_t parent() override {
        calls.emplace_back("parent");
        return parentNow;
    }
    ExitWatch watch = ExitWatch::armed;
    int64_t parentNow = 0;
    bool throws = false;
    std::vector<std::string> calls;
};

struct ParentCase {
    const char* name;
    int64_t parentAtStart;
    ExitWatch watch;
    int64_t parentNow;
    ParentWatch expected;
    std::vector<std::string> expectedCalls;
    friend void PrintTo(const ParentCase& c, std::ostream* out) { *out << c.name; }
};

class ParentWatchTest : public ::testing::TestWithParam<ParentCase> {};

TEST_P(ParentWatchTest, WatchesALiveParentAndCatchesOneGoneBeforehand) {
    const ParentCase& c = GetParam();
    FakeParentProcess process;
    process.watch = c.watch;
    process.parentNow = c.parentNow;
    EXPECT_EQ(armParentWatch(process, c.parentAtStart), c.expected);
    // The parent is asked for after the watch is registered, never before: a parent that ends
    // in between is then either reported by the watch or seen as gone.
    EXPECT_EQ(process.calls, c.expectedCalls);
}

const std::vector<std::string> kWatchThenAsk{"watch 4242", "parent"};

INSTANTIATE_TEST_SUITE_P(
    Table, ParentWatchTest,
    ::testing::Values(ParentCase{"parentAlive", 4242, ExitWatch::armed, 4242, ParentWatch::watching,
                                 kWatchThenAsk},
                      ParentCase{
                          "startedByLaunchd", 1, ExitWatch::armed, 1, ParentWatch::unwatched, {}},
                      // Gone before the watch: no such process any more.
                      ParentCase{"goneBeforeWatch",
                                 4242,
                                 ExitWatch::noSuchProcess,
                                 1,
                                 ParentWatch::parentGone,
                                 {"watch 4242"}},
                      // Gone before the watch, and its process id already another process's: that
                      // one is watched, but the listener's parent is launchd now.
                      ParentCase{"pidTakenByAnother", 4242, ExitWatch::armed, 1,
                                 ParentWatch::parentGone, kWatchThenAsk},
                      ParentCase{"watchRefusedParentAlive", 4242, ExitWatch::failed, 4242,
                                 ParentWatch::unwatched, kWatchThenAsk},
                      ParentCase{"watchRefusedParentGone", 4242, ExitWatch::failed, 1,
                                 ParentWatch::parentGone, kWatchThenAsk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParentWatch, AFailingSystemCallDoesNotEscape) {
    FakeParentProcess process;
    process.throws = true;
    EXPECT_EQ(armParentWatch(process, 4242), ParentWatch::unwatched);
}

} // namespace
