// Custom bindings and shortcut recording, driven as event triples through customConsider().

#include "fakes.h"
#include "recognizer.h"

namespace {

struct Step {
    int32_t type;
    int64_t key;
    uint64_t flags;
    const char* label;
    bool withheld;
    std::vector<std::string> lines; // standard-output lines written by this step
};

struct Scenario {
    const char* name;
    BindingMap bindings;
    bool record;
    std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

const Binding kFnOption{true, false, true, false, false, std::nullopt, ""};
const Binding kFnCaps{true, false, false, false, false, 57, "Caps Lock"};
const Binding kControlA{false, true, false, false, false, 0, "A"};

std::string rec(const char* json) {
    return std::string("record:") + json + "\n";
}

// The record lines the scenarios expect, named by held modifiers and label.
const std::string kLineFnCaps =
    rec(R"({"fn":true,"control":false,"option":false,"shift":false,"command":false,)"
        R"("keyCode":57,"keyLabel":"Caps Lock"})");
const std::string kLineCommandA =
    rec(R"({"fn":false,"control":false,"option":false,"shift":false,"command":true,)"
        R"("keyCode":0,"keyLabel":"A"})");
const std::string kLineShiftCommandQ =
    rec(R"({"fn":false,"control":false,"option":false,"shift":true,"command":true,)"
        R"("keyCode":12,"keyLabel":"Q"})");
const std::string kLineFnControlNone =
    rec(R"({"fn":true,"control":true,"option":false,"shift":false,"command":false,)"
        R"("keyLabel":""})");
const std::string kLineFnControlA =
    rec(R"({"fn":true,"control":true,"option":false,"shift":false,"command":false,)"
        R"("keyCode":0,"keyLabel":"A"})");
const std::string kLineControlCommandA =
    rec(R"({"fn":false,"control":true,"option":false,"shift":false,"command":true,)"
        R"("keyCode":0,"keyLabel":"A"})");
const std::string kLineCommandSharp =
    rec(R"({"fn":false,"control":false,"option":false,"shift":false,"command":true,)"
        R"("keyCode":27,"keyLabel":"SS"})");
const std::string kLineCommandAccented =
    rec(R"({"fn":false,"control":false,"option":false,"shift":false,"command":true,)"
        R"("keyCode":28,"keyLabel":"É\/\"\\"})");

const std::vector<Scenario> kScenarios = {
    {"ReplacementBindings",
     {{"read", kFnOption}, {"translate", kFnCaps}},
     false,
     {{12, 59, 0x840000, "", false, {}},
      {12, 58, 0x880000, "", true, {"speak\n"}},
      {12, 58, 0x880000, "", true, {}},
      {12, 63, 0, "", false, {}},
      {12, 57, 0x810000, "", true, {"translate\n"}},
      {12, 57, 0x810000, "", true, {}}}},
    {"KeyedBindingArmsAndDisarms",
     {{"other", kControlA}},
     false,
     {{10, 0, 0x40000, "a", true, {}},
      {10, 0, 0x40000, "a", true, {}},
      {11, 0, 0x40000, "", false, {}},
      {10, 0, 0x60000, "a", false, {}},
      {10, 0, 0x40000, "a", true, {}}}},
    {"KeyedReadSpeaksOnFirstAndFourthPress",
     {{"read", kControlA}},
     false,
     {{10, 0, 0x40000, "a", true, {"speak\n"}},
      {10, 0, 0x40000, "a", true, {}},
      {11, 0, 0x40000, "", false, {}},
      {10, 0, 0x60000, "a", false, {}},
      {10, 0, 0x40000, "a", true, {"speak\n"}}}},
    {"ModifierOnlyFiresOnceUntilModifiersDiffer",
     {{"read", Binding{false, true, false, true, false, std::nullopt, ""}}},
     false,
     {{12, 59, 0x40000, "", false, {}},
      {12, 56, 0x60000, "", true, {"speak\n"}},
      {10, 0, 0x60000, "a", false, {}},
      {12, 56, 0x60000, "", true, {}},
      {12, 56, 0x40000, "", false, {}},
      {12, 56, 0x60000, "", true, {"speak\n"}}}},
    {"RecordModeWeightsTiesAndEscape",
     {},
     true,
     {{12, 57, 0x810000, "", true, {kLineFnCaps}},
      {10, 0, 0x20000, "a", false, {}},
      {10, 0, 0x100000, "a", true, {kLineCommandA}},
      {10, 53, 0, "", true, {"record-cancel\n"}},
      {10, 12, 0x120000, "q", true, {kLineShiftCommandQ}}}},
    {"RecordModeModifierOnlyThenKey",
     {},
     true,
     {{12, 59, 0x40000, "", false, {}},
      {12, 63, 0x840000, "", false, {kLineFnControlNone}},
      {10, 0, 0x840000, "a", true, {kLineFnControlA}},
      {10, 0, 0x840000, "a", true, {kLineFnControlA}},
      {11, 0, 0x840000, "", false, {}},
      {12, 63, 0x40000, "", false, {}},
      {12, 59, 0, "", false, {}}}},
    {"RecordModeLowerWeightReportsNothing",
     {},
     true,
     {{10, 0, 0x140000, "a", true, {kLineControlCommandA}},
      {10, 1, 0x40000, "s", true, {}},
      {12, 58, 0x1C0000, "", false, {}}}},
    {"RecordLabelsAreFullyUpperCased",
     {},
     true,
     {{10, 27, 0x100000, "ß", true, {kLineCommandSharp}},
      {10, 28, 0x100000, "é/\"\\", true, {kLineCommandAccented}}}},
};

class CustomScenario : public ListenerTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(CustomScenario, LinesAndWithholding) {
    const Scenario& scenario = GetParam();
    listener.bindings = scenario.bindings;
    listener.recording = scenario.record;
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const auto before = fakeStreams.outLines.size();
        EXPECT_EQ(consider(step.type, step.key, step.flags, step.label), step.withheld);
        EXPECT_EQ(std::vector<std::string>(fakeStreams.outLines.begin() + before,
                                           fakeStreams.outLines.end()),
                  step.lines);
    }
    EXPECT_TRUE(fakeStreams.errLines.empty()) << "custom recognizers write no diagnostics";
}

INSTANTIATE_TEST_SUITE_P(Custom, CustomScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

using CustomCaps = ListenerTest;

TEST_F(CustomCaps, FailedRestoreSwallowsSilentlyAndKeepsState) {
    listener.hidConnection = nullptr;
    listener.bindings["translate"] = kFnCaps;
    listener.capsLock = false;
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_TRUE(fakeStreams.outLines.empty());
    EXPECT_TRUE(fakeStreams.errLines.empty());
    EXPECT_TRUE(listener.customArmed.empty()) << "no binding is looked at";
}

TEST_F(CustomCaps, CapsBindingRestoresEveryEventOfTheHold) {
    listener.bindings["translate"] = kFnCaps;
    lock.locked = true; // each press toggles the lock; the restore puts it back
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_FALSE(lock.locked);
    lock.locked = true;
    EXPECT_TRUE(consider(12, 57, 0x810000));
    EXPECT_FALSE(lock.locked);
    EXPECT_EQ(fakeStreams.outLines, std::vector<std::string>{"translate\n"});
    EXPECT_FALSE(listener.capsLock) << "frozen while fn is held";
}

TEST_F(CustomCaps, RecordingIgnoresLoadedBindings) {
    listener.bindings["read"] = kControlA;
    listener.recording = true;
    EXPECT_TRUE(consider(10, 0, 0x40000, "a"));
    ASSERT_EQ(fakeStreams.outLines.size(), 1u);
    EXPECT_EQ(fakeStreams.outLines[0].rfind("record:", 0), 0u);
}

TEST_F(CustomCaps, InvalidUtf8LabelDropsOnlyThatReport) {
    listener.recording = true;
    EXPECT_TRUE(consider(10, 0, 0x100000, "\xff"));
    EXPECT_TRUE(fakeStreams.outLines.empty());
    EXPECT_EQ(listener.recordingWeight, 11);
}

} // namespace

namespace {

// The armed set alone: each name fires once per arming, and the count behind empty() follows
// every arm and disarm, including names it has never seen and names long enough to need the heap.
TEST(ArmedNamesSet, ArmsOncePerArmingAndCountsWhatIsArmed) {
    ArmedNames armed;
    const std::string longName(64, 'x');
    EXPECT_TRUE(armed.empty());
    EXPECT_TRUE(armed.arm("read"));
    EXPECT_FALSE(armed.arm("read")) << "already armed";
    EXPECT_TRUE(armed.arm(longName));
    EXPECT_TRUE(armed.contains("read"));
    EXPECT_TRUE(armed.contains(longName));
    armed.disarm("never seen");
    armed.disarm("read");
    armed.disarm("read");
    EXPECT_FALSE(armed.contains("read"));
    EXPECT_FALSE(armed.empty()) << "the long name is still armed";
    armed.disarm(longName);
    EXPECT_TRUE(armed.empty());
    EXPECT_TRUE(armed.arm("read")) << "disarmed names arm again";
    armed.clear();
    EXPECT_TRUE(armed.empty());
    EXPECT_FALSE(armed.contains("read"));
}

} // namespace
