// The install procedure against fake operations: every outcome with the exact order of what the
// assistant does, the wait for the host on a fake clock, and both ways of swapping.
#include "fakes.h"
#include "update_assistant.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace {

const std::string target = "/apps/Orlavo.app";
const std::string source = "/dl/Orlavo.app";
const std::string logPath = "/logs/update.log";
const std::string staging = target + ".update-new";
const std::string previous = target + ".update-previous-1700000000";
const std::string contents = source + "/Contents";

const std::string copyRun =
    "run /stub/copy -aT -- " + source + " " + staging + " (error line kept)";
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
            {operations, mainLoop, {"/stub/copy", {"-aT", "--"}, "/stub/open"}});
        assistant.applicationDidFinishLaunching();
    }
};

struct Outcome {
    const char* name;
    std::function<void(FakeOperations&)> arrange;
    Events expected; // after "show", "worker", the source test, the target test and the leftovers
};
void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << outcome.name;
}

const std::string readyName = target + ".update-ready-77";

Events joined(std::initializer_list<Events> parts) {
    Events all;
    for (const Events& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// An earlier log line is discarded before anything else.
const Events sourceChecked = {"show",
                              "worker",
                              "discard " + logPath,
                              "device and inode " + target,
                              "resolve " + source,
                              "exists " + contents};
const Events targetChecked = {"resolve /wd", "home", "resolve /home/user", "resolve " + target};
const Events leftoversChecked = {"entry " + staging, "entry " + previous,
                                 "entries " + target + ".update-ready-"};
// The name's room, then the staging folder made by this run alone, then the leftovers and the
// target's device and inode again.
const Events claimed = {"name limit /apps", "create " + staging, "entry " + previous,
                        "entries " + target + ".update-ready-", "device and inode " + target};
// The finished copy is flushed, then renamed after its identity.
const Events copiedAndReady = {copying, copyRun, "flush " + staging, "identity " + staging,
                               "move " + staging + " " + readyName};

class InstallOutcome : public Install, public ::testing::WithParamInterface<Outcome> {};

TEST_P(InstallOutcome, DoesExactlyThisInThisOrder) {
    operations.paths = {contents};
    GetParam().arrange(operations);
    launch();
    EXPECT_EQ(events, joined({sourceChecked, targetChecked, leftoversChecked, claimed,
                              GetParam().expected}));
}

const std::string exchangeIn = "exchange " + readyName + " " + target;
const std::string asideToPrevious = "move " + readyName + " " + previous;
const std::string namesFlushed = "flush names " + target;
const std::string installedLine = logged("Update installed; previous app preserved at " + previous);

INSTANTIATE_TEST_SUITE_P(
    Matrix, InstallOutcome,
    ::testing::Values(
        Outcome{"SuccessWithExchange", [](FakeOperations&) {},
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, namesFlushed, ready, openRun, installedLine,
                         ready, successEnd}})},
        Outcome{"SuccessWithTwoMoves",
                [](FakeOperations& o) { o.exchanges = {exchangeUnsupported}; },
                joined({copiedAndReady,
                        {exchangeIn, "move " + target + " " + previous,
                         "move " + readyName + " " + target, namesFlushed, ready, openRun,
                         installedLine, ready, successEnd}})},
        Outcome{"CopyCannotStart",
                [](FakeOperations& o) { o.runs = {{false, "No such file or directory", 0, {}}}; },
                {copying, copyRun, "remove " + staging,
                 failed("Could not start " + q("/stub/copy") + " to copy " + q(source) + " to " +
                        q(staging) + ": No such file or directory"),
                 failedTexts, failureEnd}},
        Outcome{"CopyExitsWithOne", [](FakeOperations& o) { o.runs = {{true, {}, 1, {}}}; },
                {copying, copyRun, "remove " + staging, failed(exitError(1)), failedTexts,
                 failureEnd}},
        Outcome{"CopyEndedBySignal", [](FakeOperations& o) { o.runs = {{true, {}, 9, {}}}; },
                {copying, copyRun, "remove " + staging, failed(exitError(9)), failedTexts,
                 failureEnd}},
        // A removal that fails is told after the error that caused it.
        Outcome{"CopyFailsAndItsRemovalFails",
                [](FakeOperations& o) {
                    o.runs = {{true, {}, 1, {}}};
                    o.removals = {"Could not remove " + q(staging + "/x") + ": Read-only file system"};
                },
                {copying, copyRun, "remove " + staging,
                 failed(exitError(1) + "; Could not remove " + q(staging + "/x") +
                        ": Read-only file system"),
                 failedTexts, failureEnd}},
        // Nothing is swapped in that is not on disk.
        Outcome{"FlushFails", [](FakeOperations& o) { o.flushes = {"Input/output error"}; },
                {copying, copyRun, "flush " + staging, "remove " + staging,
                 failed("Could not write " + q(staging) + " to disk: Input/output error"),
                 failedTexts, failureEnd}},
        Outcome{"ReadyRenameFails", [](FakeOperations& o) { o.moves = {"File exists"}; },
                joined({copiedAndReady,
                        {"remove " + staging,
                         failed("Could not move " + q(staging) + " to " + q(readyName) +
                                ": File exists"),
                         failedTexts, failureEnd}})},
        Outcome{"ExchangeFailsAsTheTargetIsMissing",
                [](FakeOperations& o) {
                    o.exchanges = {{Exchange::Outcome::failed, "No such file or directory"}};
                },
                joined({copiedAndReady,
                        {exchangeIn, "remove " + readyName,
                         failed("Could not exchange " + q(readyName) + " with " + q(target) +
                                ": No such file or directory"),
                         failedTexts, failureEnd}})},
        Outcome{"AsideFailsAndTheExchangeBackSucceeds",
                [](FakeOperations& o) { o.moves = {std::nullopt, "File exists"}; },
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, exchangeIn, "remove " + readyName,
                         failed("Could not move " + q(readyName) + " to " + q(previous) +
                                ": File exists"),
                         failedTexts, failureEnd}})},
        // The ready name then holds the installed version: it must not be removed.
        Outcome{"AsideFailsAndTheExchangeBackFails",
                [](FakeOperations& o) {
                    o.moves = {std::nullopt, "File exists"};
                    o.exchanges = {exchangeDone, {Exchange::Outcome::failed, "Input/output error"}};
                },
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, exchangeIn,
                         failed("Could not move " + q(readyName) + " to " + q(previous) +
                                ": File exists"),
                         failedTexts, failureEnd}})},
        Outcome{"FirstMoveFails",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {std::nullopt, "No such file or directory"};
                },
                joined({copiedAndReady,
                        {exchangeIn, "move " + target + " " + previous, "remove " + readyName,
                         failed("Could not move " + q(target) + " to " + q(previous) +
                                ": No such file or directory"),
                         failedTexts, failureEnd}})},
        Outcome{"SecondMoveFailsAndTheRollbackSucceeds",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {std::nullopt, std::nullopt, "Permission denied"};
                },
                joined({copiedAndReady,
                        {exchangeIn, "move " + target + " " + previous,
                         "move " + readyName + " " + target, "move " + previous + " " + target,
                         "remove " + readyName,
                         failed("Could not move " + q(readyName) + " to " + q(target) +
                                ": Permission denied"),
                         failedTexts, failureEnd}})},
        // The rollback's own error is never the one reported, and with the target path empty
        // the new version is kept for recovery.
        Outcome{"SecondMoveFailsAndTheRollbackFails",
                [](FakeOperations& o) {
                    o.exchanges = {exchangeUnsupported};
                    o.moves = {std::nullopt, std::nullopt, "Permission denied",
                               "Read-only file system"};
                },
                joined({copiedAndReady,
                        {exchangeIn, "move " + target + " " + previous,
                         "move " + readyName + " " + target, "move " + previous + " " + target,
                         failed("Could not move " + q(readyName) + " to " + q(target) +
                                ": Permission denied"),
                         failedTexts, failureEnd}})},
        // After the swap the update stays installed; nothing is removed.
        Outcome{"OpenCannotStart",
                [](FakeOperations& o) {
                    o.runs = {{true, {}, 0, {}}, {false, "Permission denied", 0, {}}};
                },
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, namesFlushed, ready, openRun,
                         failed("Could not start " + q("/stub/open") + " to open " + q(target) +
                                ": Permission denied"),
                         failedTexts, failureEnd}})},
        Outcome{"OpenExitsWithFour",
                [](FakeOperations& o) { o.runs = {{true, {}, 0, {}}, {true, {}, 4, {}}}; },
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, namesFlushed, ready, openRun,
                         failed(exitError(4)), failedTexts, failureEnd}})},
        // An unwritable log changes nothing else.
        Outcome{"LogCannotBeWritten", [](FakeOperations& o) { o.logWritable = false; },
                joined({copiedAndReady,
                        {exchangeIn, asideToPrevious, namesFlushed, ready, openRun,
                         installedLine, ready, successEnd}})}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST_F(Install, BundleWithoutContentsIsMissingAndNothingIsTouched) {
    launch();
    EXPECT_EQ(events,
              joined({sourceChecked,
                      {logged("Verified update bundle is missing."), failedTexts, failureEnd}}));
}

TEST_F(Install, StagingLeftoverNeedsRecoveryAndNothingIsTouched) {
    operations.paths = {contents};
    operations.entries = {staging};
    launch();
    EXPECT_EQ(events, joined({sourceChecked,
                              targetChecked,
                              {"entry " + staging, logged("A previous update needs recovery."),
                               failedTexts, failureEnd}}));
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

TEST_F(Install, ReadyCopyOfAnyIdentityNeedsRecovery) {
    operations.paths = {contents};
    operations.entries = {target + ".update-ready-12345"};
    launch();
    EXPECT_EQ(events.at(events.size() - 3), logged("A previous update needs recovery."));
    EXPECT_EQ(std::count(events.begin(), events.end(), copyRun), 0);
}

// The test for Contents and the copy see the same tree: the one the link leads to.
TEST_F(Install, LinkedSourceIsResolvedBeforeTheTestAndTheCopy) {
    operations.resolutions = {{source, "/store/Orlavo-2.0.app"}};
    operations.paths = {"/store/Orlavo-2.0.app/Contents"};
    launch();
    EXPECT_EQ(events.at(5), "exists /store/Orlavo-2.0.app/Contents");
    EXPECT_NE(
        std::find(events.begin(), events.end(),
                  "run /stub/copy -aT -- /store/Orlavo-2.0.app " + staging + " (error line kept)"),
        events.end());
    EXPECT_EQ(events.at(events.size() - 3), installedLine);
}

TEST_F(Install, SourceThatCannotBeResolvedIsMissing) {
    operations.resolutions = {{source, ""}};
    operations.paths = {contents};
    launch();
    EXPECT_EQ(events,
              joined({{"show", "worker", "discard " + logPath, "device and inode " + target,
                       "resolve " + source},
                      {logged("Verified update bundle is missing."), failedTexts, failureEnd}}));
}

struct TargetCase {
    const char* name;
    std::string target; // the argument as given
    std::string workingDirectory;
    std::map<std::string, std::string> resolutions;
    std::string refusal; // "" when the update goes ahead
};
void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class TargetRefusal : public Install, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetRefusal, NeverMovesAsideWhatHoldsTheUsersFolders) {
    const TargetCase& c = GetParam();
    operations.paths = {contents};
    operations.resolutions = c.resolutions;
    UpdateAssistant assistant({"update-assistant", c.target, source, "0", logPath},
                              c.workingDirectory, std::make_unique<FakeCard>(events),
                              {operations, mainLoop, {"/stub/copy", {"-aT", "--"}, "/stub/open"}});
    assistant.applicationDidFinishLaunching();
    if (c.refusal.empty()) {
        EXPECT_TRUE(events.at(events.size() - 3)
                        .starts_with("write " + logPath + " Update installed; previous app"));
        return;
    }
    EXPECT_EQ(events.at(events.size() - 3), failed(c.refusal));
    for (const std::string& event : events)
        EXPECT_FALSE(event.starts_with("entry") || event.starts_with("run") ||
                     event.starts_with("move") || event.starts_with("exchange"))
            << event;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetRefusal,
    ::testing::Values(
        TargetCase{"Empty",
                   "",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/wd") + ": it is the working directory."},
        TargetCase{"Dot",
                   ".",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/wd") + ": it is the working directory."},
        TargetCase{"DotSlash",
                   "./",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/wd") + ": it is the working directory."},
        TargetCase{
            "Root", "/", "/wd", {}, "Refusing to replace " + q("/") + ": it is the root folder."},
        TargetCase{"RootByDotDot",
                   "../..",
                   "/wd/a",
                   {},
                   "Refusing to replace " + q("/") + ": it is the root folder."},
        TargetCase{"Parent",
                   "..",
                   "/wd/a",
                   {},
                   "Refusing to replace " + q("/wd") + ": it holds the working directory."},
        TargetCase{"Home",
                   "/home/user",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/home/user") + ": it is the home folder."},
        TargetCase{"HomeWithDot",
                   "/home/user/.",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/home/user") + ": it is the home folder."},
        TargetCase{"HomeParent",
                   "/home",
                   "/wd",
                   {},
                   "Refusing to replace " + q("/home") + ": it holds the home folder."},
        // A link that leads to the home folder is refused as the home folder itself.
        TargetCase{"LinkToHome",
                   "/apps/Orlavo.app",
                   "/wd",
                   {{"/apps/Orlavo.app", "/home/user"}},
                   "Refusing to replace " + q("/apps/Orlavo.app") + ": it is the home folder."},
        TargetCase{"WorkingDirectoryThroughALink",
                   "/data/wd",
                   "/wd",
                   {{"/wd", "/data/wd"}},
                   "Refusing to replace " + q("/data/wd") + ": it is the working directory."},
        TargetCase{"BundleInsideHome", "/home/user/Applications/Orlavo.app", "/wd", {}, ""},
        TargetCase{"BundleNamedLikeHome", "/home/user2", "/wd", {}, ""},
        TargetCase{"BundleInTheWorkingDirectory", "Orlavo.app", "/wd", {}, ""}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

} // namespace
