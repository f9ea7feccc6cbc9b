// The wait for the host application on a fake wall clock: 0.1 s probes, the 40 s deadline
// tested before each sleep, and the final probe that decides.
#include "fakes.h"
#include "update_assistant.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

class Wait : public ::testing::Test {
  protected:
    Events events;
    FakeOperations operations{events};
    FakeMainLoop mainLoop{events};

    void launch(const std::string& parentID) {
        operations.paths = {"/dl/Orlavo.app/Contents"};
        UpdateAssistant assistant(
            {"update-assistant", "/apps/Orlavo.app", "/dl/Orlavo.app", parentID, "/l/log"}, "/",
            std::make_unique<FakeCard>(events),
            {operations, mainLoop, {"/stub/copy", {}, "/stub/open"}});
        assistant.applicationDidFinishLaunching();
    }

    std::string logLine() const {
        for (const std::string& event : events)
            if (event.starts_with("write "))
                return event.substr(std::string("write /l/log ").size());
        return "(no log)";
    }
    long count(const std::string& prefix) const {
        return std::count_if(events.begin(), events.end(),
                             [&](const std::string& e) { return e.starts_with(prefix); });
    }
};

class NoWait : public Wait, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoWait, ParentIDZeroOrBelowSkipsEveryProbe) {
    operations.aliveProbes = -1;
    launch(GetParam());
    EXPECT_EQ(operations.probes, 0);
    EXPECT_EQ(operations.sleeps, 0);
    EXPECT_EQ(events.at(4), "resolve /dl/Orlavo.app");
}

INSTANTIATE_TEST_SUITE_P(Ids, NoWait, ::testing::Values("0", "-3", "-2147483648", "junk"));

TEST_F(Wait, HostAlreadyGoneGivesOneProbeThenTheFinalProbe) {
    launch("4242");
    // The earlier log line is discarded and the target's place taken before the wait.
    EXPECT_EQ(std::vector<std::string>(events.begin() + 2, events.begin() + 7),
              (Events{"discard /l/log", "device and inode /apps/Orlavo.app", "probe 4242",
                      "probe 4242", "resolve /dl/Orlavo.app"}));
    EXPECT_EQ(operations.sleeps, 0);
}

TEST_F(Wait, HostQuittingAfterThreeProbesIsFoundAtTheFourth) {
    operations.aliveProbes = 3;
    launch("4242");
    EXPECT_EQ(std::vector<std::string>(events.begin() + 4, events.begin() + 12),
              (Events{"probe 4242", "sleep 100ms", "probe 4242", "sleep 100ms", "probe 4242",
                      "sleep 100ms", "probe 4242", "probe 4242"}));
    EXPECT_EQ(logLine().rfind("Update installed; previous app preserved at ", 0), 0u);
}

TEST_F(Wait, HostThatNeverQuitsIsCancelledAtTheDeadlineAfterTheFinalProbe) {
    operations.aliveProbes = -1;
    const int64_t start = operations.clockMillis;
    launch("4242");
    EXPECT_EQ(operations.sleeps, 400);
    EXPECT_EQ(operations.probes, 402); // first, one after each sleep, final
    EXPECT_EQ(operations.clockMillis - start, 40'000);
    EXPECT_EQ(logLine(), "Orlavo did not quit; update cancelled.\n");
    EXPECT_EQ(count("exists"), 0);
    EXPECT_EQ(count("run"), 0);
    EXPECT_EQ(events.back(), "terminate 6000ms");
}

TEST_F(Wait, HostQuittingJustBeforeTheFinalProbeLetsTheUpdateGoOn) {
    operations.aliveProbes = 401;
    launch("4242");
    EXPECT_EQ(operations.probes, 402);
    EXPECT_EQ(logLine().rfind("Update installed; previous app preserved at ", 0), 0u);
}

// The deadline is read from the wall clock: a jump forward ends the wait early.
TEST_F(Wait, WallClockJumpPastTheDeadlineEndsTheWait) {
    operations.aliveProbes = -1;
    operations.jumpAtFirstSleep = 60'000;
    launch("4242");
    EXPECT_EQ(operations.sleeps, 1);
    EXPECT_EQ(operations.probes, 3);
    EXPECT_EQ(logLine(), "Orlavo did not quit; update cancelled.\n");
}

} // namespace
