// The install procedure against fake operations: every outcome with the exact order of what the
// assistant does, the wait for the host on a fake clock, and both ways of swapping.
#include "fakes.h"
#include "update_assistant.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

const std::string target = "/apps/Orlavo.app";
const std::string source = "/dl/Orlavo.app";
const std::string logPath = "/logs/update.log";
const std::string staging = target + ".update-new";
const std::string previous = target + ".update-previous-1700000000";
const std::string contents = source + "/Contents";

const std::string copyRun = "run /stub/copy -a -- " + source + " " + staging;
const std::string openRun = "run /stub/open " + target;
const std::string copying = "status Installing update / Copying the verified app\u2026";
const std::string ready = "status Opening Orlavo / Your update is ready.";
const std::string failedTexts =
    "status Update could not finish / Your current app is still available. Try again.";
const std::string failureEnd = "terminate 6000ms";
const std::string successEnd = "terminate 1000ms";

std::string logged(const std::string& line) {
    return "write " + logPath + " " + line + "\n";
}
std::string failed(const std::string& description) {
    return logged("Update failed: " + description);
}
std::string exitError(int status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(status) + ".)";
}
std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

const Exchange exchangeUnsupported{Exchange::Outcome::unsupported, {}};
const Exchange exchangeDone{Exchange::Outcome::done, {}};

class Install : public ::testing::Test {
  protected:
    Events events;
    FakeOperations operations{events};
    FakeMainLoop mainLoop{events};

    // Runs the whole launch: card, worker, install, finish.
    void launch(const std::string& parentID = "0") {
        UpdateAssistant assistant(
            {"update-assistant", target, source, parentID, logPath}, "/wd",
            std::make_unique<FakeCard>(events),
            {operations, mainLoop, {"/stub/copy", {"-a", "--"}, "/stub/open"}});
        assistant.applicationDidFinishLaunching();
    }
};

struct Outcome {
    const char* name;
    std::function<void(FakeOperations&)> arrange;
    Events expected; // after "show", "worker", the source test and the leftover tests
};

class InstallOutcome : public Install, public ::testing::WithParamInterface<Outcome> {};

TEST_P(InstallOutcome, DoesExactlyThisInThisOrder) {
    operations.paths = {contents};
    GetParam().arrange(operations);
    launch();
    Events expected = {"show", "worker", "exists " + contents, "entry " + staging,
                       "entry " + previous};
    expected.insert(expected.end(), GetParam().expected.begin(), GetParam().expected.end());
    EXPECT_EQ(events, expected);
}

const std::string exchangeIn = "exchange " + staging + " " + target;
const std::string asideToPrevious = "move " + staging + " " + previous;

INSTANTIATE_TEST_SUITE_P(
    Matrix, InstallOutcome,
    ::testing::Values(
        Outcome{"SuccessWithExchange", [](FakeOperations&) {},
                {copying, copyRun, exchangeIn, asideToPrevious, ready, openRun,
                 logged("Update installed; previous app preserved at " + previous), ready,
                 successEnd}},
        Outcome{"SuccessWithTwoMoves",
                [](FakeOperations& o) { o.exchanges = {exchangeUnsupported}; },
                {copying, copyRun, exchangeIn, "move " + target + " " + previous,
                 "move " + staging + " " + target, ready, openRun,
                 logged("Update installed; previous app preserved at " + previous), ready,
                 successEnd}},
        Outcome{"CopyCannotStart",
                [](FakeOperations& o) { o.runs = {{false, "No such file or directory", 0}}; },
                {copying, copyRun, "remove " + staging,
                 failed("Could not start " + q("/stub/copy") + " to copy " + q(source) + " to " +
                        q(staging) + ": No such file or directory"),
                 failedTexts, failureEnd}},
        Outcome{"CopyExitsWithOne", [](FakeOperations& o) { o.runs = {{true, {}, 1}}; },
                {copying, copyRun, "remove " + staging, failed(exitError(1)), failedTexts,
                 failureEnd}},
        Outcome{"CopyEndedBySignal", [](FakeOperations& o) { o.runs = {{true, {}, 9}}; },
                {copying, copyRun, "remove " + staging, failed(exitError(9)), failedTexts,
                 failureEnd}},
        Outcome{"ExchangeFailsAsTheTargetIsMissing",
                [](FakeOperations& o) {
                    o.exchanges = {{Exchange::Outcome::failed, "No such file or directory"}};
                },
                {copying, copyRun, exchangeIn, "remove " + staging,
                 failed("Could not exchange " + q(staging) + " with " + q(target) +
                        ": No such file or directory"),
                 failedTexts, failureEnd}},
        Outcome{"AsideFailsAndTheExchangeBackSucceeds",
                [](FakeOperations& o) { o.moves = {"File exists"}; },
                {copying, copyRun, exchangeIn, asideToPrevious, exchangeIn, "remove " + staging,
                 failed("Could not move " + q(staging) + " to " + q(previous) + ": File exists"),
                 failedTexts, failureEnd}},
        // The staging name then holds the installed version: it must not be removed.
        Outcome{"AsideFailsAndTheExchangeBackFails",
                [](FakeOperations& o) {
                    o.moves = {"File exists"};
                    o.exchanges = {exchangeDone, {Exchange::Outcome::failed, "Input/output error"}};
                },
                {copying, copyRun, exchangeIn, asideToPrevious, exchangeIn,
                 failed("Could not move " + q(staging) + " to " + q(previous) + ": File exists"),
                 failedTexts, failureEnd}},
        Outcome{"FirstMoveFails",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {"No such file or directory"};
                },
                {copying, copyRun, exchangeIn, "move " + target + " " + previous,
                 "remove " + staging,
                 failed("Could not move " + q(target) + " to " + q(previous) +
                        ": No such file or directory"),
                 failedTexts, failureEnd}},
        Outcome{"SecondMoveFailsAndTheRollbackSucceeds",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {std::nullopt, "Permission denied"};
                },
                {copying, copyRun, exchangeIn, "move " + target + " " + previous,
                 "move " + staging + " " + target, "move " + previous + " " + target,
                 "remove " + staging,
                 failed("Could not move " + q(staging) + " to " + q(target) +
                        ": Permission denied"),
                 failedTexts, failureEnd}},
        // The rollback's own error is never the one reported.
        Outcome{"SecondMoveFailsAndTheRollbackFails",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {std::nullopt, "Permission denied", "Read-only file system"};
                },
                {copying, copyRun, exchangeIn, "move " + target + " " + previous,
                 "move " + staging + " " + target, "move " + previous + " " + target,
                 "remove " + staging,
                 failed("Could not move " + q(staging) + " to " + q(target) +
                        ": Permission denied"),
                 failedTexts, failureEnd}},
        // After the swap the update stays installed; nothing is removed.
        Outcome{"OpenCannotStart",
                [](FakeOperations& o) {
                    o.runs = {{true, {}, 0}, {false, "Permission denied", 0}};
                },
                {copying, copyRun, exchangeIn, asideToPrevious, ready, openRun,
                 failed("Could not start " + q("/stub/open") + " to open " + q(target) +
                        ": Permission denied"),
                 failedTexts, failureEnd}},
        Outcome{"OpenExitsWithFour",
                [](FakeOperations& o) { o.runs = {{true, {}, 0}, {true, {}, 4}}; },
                {copying, copyRun, exchangeIn, asideToPrevious, ready, openRun,
                 failed(exitError(4)), failedTexts, failureEnd}},
        // An unwritable log changes nothing else.
        Outcome{"LogCannotBeWritten", [](FakeOperations& o) { o.logWritable = false; },
                {copying, copyRun, exchangeIn, asideToPrevious, ready, openRun,
                 logged("Update installed; previous app preserved at " + previous), ready,
                 successEnd}}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST_F(Install, BundleWithoutContentsIsMissingAndNothingIsTouched) {
    launch();
    EXPECT_EQ(events,
              (Events{"show", "worker", "exists " + contents,
                      logged("Verified update bundle is missing."), failedTexts, failureEnd}));
}

TEST_F(Install, StagingLeftoverNeedsRecoveryAndNothingIsTouched) {
    operations.paths = {contents};
    operations.entries = {staging};
    launch();
    EXPECT_EQ(events,
              (Events{"show", "worker", "exists " + contents, "entry " + staging,
                      logged("A previous update needs recovery."), failedTexts, failureEnd}));
}

TEST_F(Install, PreviousCopyOfTheSameSecondNeedsRecovery) {
    operations.paths = {contents};
    operations.entries = {previous, target + ".update-previous-1699999999"};
    launch();
    EXPECT_EQ(events.at(events.size() - 3), logged("A previous update needs recovery."));
}

TEST_F(Install, PreviousCopiesOfOtherSecondsDoNotBlock) {
    operations.paths = {contents};
    operations.entries = {target + ".update-previous-1699999999"};
    launch();
    EXPECT_EQ(events.at(events.size() - 3),
              logged("Update installed; previous app preserved at " + previous));
}

// Order of the checks: waiting first, then the source, then the leftovers.
TEST_F(Install, HostThatStaysWinsOverAMissingSource) {
    operations.aliveProbes = -1;
    launch("4242");
    EXPECT_EQ(events.at(events.size() - 3), logged("Orlavo did not quit; update cancelled."));
    for (const std::string& event : events)
        EXPECT_FALSE(event.starts_with("exists") || event.starts_with("entry")) << event;
}

TEST_F(Install, MissingSourceWinsOverALeftover) {
    operations.entries = {staging};
    launch();
    EXPECT_EQ(events.at(events.size() - 3), logged("Verified update bundle is missing."));
}

} // namespace
