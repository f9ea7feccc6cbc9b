// The command line reader and the built-in self-test.

#include "fakes.h"
#include "self_test.h"
#include "startup.h"

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;
    bool alias, selfTest, record;
    const char* bindingsText; // null: none
};

const std::vector<OptionsCase> kOptions = {
    {"None", {"shortcut-listener"}, false, false, false, nullptr},
    {"AllAnyOrder",
     {"l", "--record", "x", "--self-test", "--option-alias"},
     true,
     true,
     true,
     nullptr},
    {"CaseSensitiveWholeWords",
     {"l", "--Record", "--self-test=1", "-option-alias"},
     false,
     false,
     false,
     nullptr},
    {"ProgramPathCounts", {"--option-alias"}, true, false, false, nullptr},
    {"RepeatedCountsOnce", {"l", "--record", "--record"}, false, false, true, nullptr},
    {"BindingsValue", {"l", "--bindings", "{}"}, false, false, false, "{}"},
    {"FirstBindingsWins", {"l", "--bindings", "A", "--bindings", "B"}, false, false, false, "A"},
    {"BindingsLastHasNoValue", {"l", "--bindings"}, false, false, false, nullptr},
    {"OptionWordAsValueStillCounts",
     {"l", "--bindings", "--record"},
     false,
     false,
     true,
     "--record"},
};

class ReadOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ReadOptions, FindsWholeArgumentsAnywhere) {
    const OptionsCase& c = GetParam();
    const Options options = readOptions(c.args);
    EXPECT_EQ(options.optionAlias, c.alias);
    EXPECT_EQ(options.selfTest, c.selfTest);
    EXPECT_EQ(options.record, c.record);
    if (c.bindingsText == nullptr) {
        EXPECT_EQ(options.bindingsText, nullptr);
    } else {
        ASSERT_NE(options.bindingsText, nullptr);
        EXPECT_EQ(*options.bindingsText, c.bindingsText);
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, ReadOptions, ::testing::ValuesIn(kOptions),
                         [](const auto& info) { return std::string(info.param.name); });

class SelfTest : public ListenerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SelfTest, PassesWithAndWithoutAlias) {
    listener.selfTesting = true;
    listener.optionAlias = GetParam();
    listener.capsLock = true; // the machine's state at start-up does not matter
    EXPECT_TRUE(selfTestPasses());
    EXPECT_TRUE(fakeStreams.outLines.empty());
    EXPECT_TRUE(lock.calls.empty()) << "no lock-state call in self-test mode";
}

INSTANTIATE_TEST_SUITE_P(Alias, SelfTest, ::testing::Bool());

TEST_F(ListenerTest, SelfTestFailsInRecordingMode) {
    listener.selfTesting = true;
    listener.recording = true;
    EXPECT_FALSE(selfTestPasses());
    EXPECT_FALSE(fakeStreams.outLines.empty()) << "recording writes record lines instead";
}

TEST_F(ListenerTest, SelfTestIgnoresLoadedBindings) {
    listener.selfTesting = true;
    listener.bindings["read"] = Binding{false, true, false, false, false, 0, "A"};
    EXPECT_TRUE(selfTestPasses());
}

} // namespace
