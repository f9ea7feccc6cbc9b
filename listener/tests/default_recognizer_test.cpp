// The default shortcuts, driven as event triples through consider().

#include "fakes.h"
#include "recognizer.h"

#include <optional>

namespace {

struct Step {
    int32_t type;
    int64_t key;
    uint64_t flags;
    bool withheld;
    std::vector<std::string> actions; // appended to the observations by this step
    std::vector<bool> restores;       // Caps Lock states asked for by this step
    std::optional<bool> capsLockAfter = std::nullopt;
    std::optional<bool> armedAfter = std::nullopt;
    std::optional<bool> globeAfter = std::nullopt;
};

struct Scenario {
    const char* name;
    bool alias;
    bool capsAtStart;
    std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

const std::vector<Scenario> kScenarios = {
    {"SpeakOncePerPress",
     false,
     false,
     {{12, 59, 0x840000, false, {"speak"}, {}},
      {12, 59, 0x840000, false, {}, {}},
      {12, 59, 0, false, {}, {}},
      {12, 59, 0x840000, false, {"speak"}, {}}}},
    {"OptionAliasTakesOption",
     true,
     false,
     {{12, 59, 0x840000, false, {}, {}},
      {12, 59, 0, false, {}, {}},
      {12, 58, 0x880000, false, {"speak"}, {}}}},
    {"OptionIsNoChordWithoutAlias", false, false, {{12, 58, 0x880000, false, {}, {}}}},
    {"CommandOrShiftSpoilsSpeak",
     false,
     false,
     {{12, 59, 0x940000, false, {}, {}}, {12, 59, 0x860000, false, {}, {}}}},
    {"FnFromGlobeKeyAlone",
     false,
     false,
     {{12, 63, 0x800000, false, {}, {}, std::nullopt, std::nullopt, true},
      {12, 59, 0x40000, false, {"speak"}, {}}}},
    {"TranslateOncePerFnHold",
     false,
     false,
     {{12, 57, 0x810000, true, {"translate"}, {false}, false, true},
      {12, 57, 0x810000, true, {}, {false}, false, true},
      {12, 57, 0x810000, true, {}, {false}, false, true},
      {12, 63, 0x10000, false, {}, {}, true, false, false},
      {12, 57, 0x800000, true, {"translate"}, {true}, true, true}}},
    {"TranslateKeepsCapsOn",
     false,
     true,
     {{10, 57, 0x800000, true, {"translate"}, {true}, true, true},
      {12, 57, 0x800000, true, {}, {true}, true, true}}},
    {"FnRepressWhileArmed",
     false,
     false,
     {{12, 57, 0x810000, true, {"translate"}, {false}},
      {12, 63, 0x810000, false, {}, {}, false, true, true}}},
    {"ShiftCancelsTranslate", false, false, {{12, 57, 0x830000, false, {}, {}, true, false}}},
    {"OptionCancelsTranslate", false, false, {{12, 57, 0x890000, false, {}, {}, true, false}}},
    {"GlobeKeyDownWithControl",
     false,
     false,
     {{10, 63, 0x40000, false, {"speak"}, {}, std::nullopt, std::nullopt, true},
      {11, 63, 0x40000, false, {}, {}, std::nullopt, std::nullopt, false}}},
};

class DefaultScenario : public ListenerTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(DefaultScenario, ActionsRestoresAndState) {
    const Scenario& scenario = GetParam();
    listener.selfTesting = true;
    listener.optionAlias = scenario.alias;
    listener.capsLock = scenario.capsAtStart;
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const auto actionsBefore = listener.observed.size();
        const auto restoresBefore = listener.restoredStates.size();
        EXPECT_EQ(consider(step.type, step.key, step.flags), step.withheld);
        EXPECT_EQ(std::vector<std::string>(listener.observed.begin() + actionsBefore,
                                           listener.observed.end()),
                  step.actions);
        EXPECT_EQ(std::vector<bool>(listener.restoredStates.begin() + restoresBefore,
                                    listener.restoredStates.end()),
                  step.restores);
        if (step.capsLockAfter) {
            EXPECT_EQ(listener.capsLock, *step.capsLockAfter);
        }
        if (step.armedAfter) {
            EXPECT_EQ(listener.translateArmed, *step.armedAfter);
        }
        if (step.globeAfter) {
            EXPECT_EQ(listener.globeDown, *step.globeAfter);
        }
    }
    EXPECT_TRUE(fakeStreams.outLines.empty()) << "self-test mode writes nothing";
}

INSTANTIATE_TEST_SUITE_P(Default, DefaultScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

using DefaultOutput = ListenerTest;

TEST_F(DefaultOutput, SpeakAndTranslateLinesAreExact) {
    EXPECT_FALSE(consider(12, 59, 0x840000));
    EXPECT_FALSE(consider(12, 59, 0));
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_EQ(fakeStreams.outLines, (std::vector<std::string>{"speak\n", "translate\n"}));
    EXPECT_TRUE(fakeStreams.errLines.empty());
}

TEST_F(DefaultOutput, RestorePutsToggledCapsBack) {
    lock.locked = true; // the press turned Caps Lock on
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_FALSE(lock.locked);
    EXPECT_EQ(lock.calls, (std::vector<std::string>{"get", "set:off", "get"}));
}

TEST_F(DefaultOutput, FailedRestoreReportsOnStandardErrorEveryTime) {
    listener.hidConnection = nullptr;
    const std::string message = "Caps Lock preservation unavailable; translation not started\n";
    ASSERT_EQ(message.size(), 60u);
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_TRUE(listener.translateArmed);
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_TRUE(fakeStreams.outLines.empty());
    EXPECT_EQ(fakeStreams.errLines, (std::vector<std::string>{message, message}));
}

TEST_F(DefaultOutput, BindingsHandEventsToCustomRecognizerAfterGlobeTracking) {
    listener.bindings["other"] = Binding{false, true, false, false, false, 0, "A"};
    EXPECT_FALSE(consider(12, 63, 0x800000));
    EXPECT_TRUE(listener.globeDown);
    // The default chord is no longer in force.
    EXPECT_FALSE(consider(12, 59, 0x840000));
    EXPECT_TRUE(fakeStreams.outLines.empty());
    EXPECT_FALSE(listener.fnCmdArmed);
}

} // namespace
