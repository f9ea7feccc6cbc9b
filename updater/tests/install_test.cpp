// The install procedure on a fake file system: every way a copy, swap or reopen can end, judged
// by the tree, the log line, the card and the termination; the few orders safety rests on; runs
// that go ahead although something looks in the way.
#include "install_run.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace install_run;

// How far a run got: the reopening is asked for only once the new version is in place.
enum class Ending { failedBeforeReopening, failedReopening, installed };

struct Outcome {
    const char* name;
    std::function<void(FakeOperations&)> arrange;
    std::optional<std::string> log; // the line without its line feed; nothing: no log at all
    Names beside;                   // what stands beside the target afterwards
    Ending ending;
};
void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << outcome.name;
}

class InstallOutcome : public InstallRun, public ::testing::WithParamInterface<Outcome> {};

TEST_P(InstallOutcome, LeavesThisBehind) {
    const Outcome& c = GetParam();
    c.arrange(operations);
    launch();
    EXPECT_EQ(logLine(), c.log ? std::optional(*c.log + "\n") : std::nullopt);
    EXPECT_EQ(beside(), c.beside);
    EXPECT_EQ(operations.namesIn("/dl"), (Names{{"Orlavo.app", "v2"}}));
    EXPECT_EQ(operations.copyOptions, (std::vector<std::string>{"-aT", "--"}));
    const bool reopened = c.ending != Ending::failedBeforeReopening;
    const bool succeeded = c.ending == Ending::installed;
    EXPECT_EQ(operations.opened,
              reopened ? std::vector<std::string>{"v2"} : std::vector<std::string>{});
    // The copy's texts, the opening's once the swap is done, then the ending's.
    std::vector<Screen::Texts> texts = {copyingTexts};
    if (reopened) texts.push_back(readyTexts);
    texts.push_back(succeeded ? readyTexts : failedTexts);
    EXPECT_EQ(screen.texts, texts);
    EXPECT_EQ(screen.terminations, (std::vector<double>{succeeded ? 1.0 : 6.0}));
    // The swapped names are on disk by the end of the run.
    if (reopened) {
        EXPECT_EQ(operations.unflushedFolders.count(apps), 0u);
    }
}

const auto asIs = [](FakeOperations&) {};
const auto noExchange = [](FakeOperations& o) { o.exchangeSupported = false; };
const auto failingCopy = [](int status) {
    return [status](FakeOperations& o) { o.copyRuns = {{true, {}, status, {}}}; };
};
std::string moveError(const std::string& from, const std::string& to, const char* error) {
    return "Update failed: Could not move " + q(from) + " to " + q(to) + ": " + error;
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, InstallOutcome,
    ::testing::Values(
        Outcome{"SuccessWithExchange", asIs, installedLine, installed, Ending::installed},
        Outcome{"SuccessWithTwoMoves", noExchange, installedLine, installed, Ending::installed},
        Outcome{"CopyCannotStart",
                [](FakeOperations& o) {
                    o.copyRuns = {{false, "No such file or directory", 0, {}}};
                },
                "Update failed: Could not start " + q("/stub/copy") + " to copy " + q(source) +
                    " to " + q(staging) + ": No such file or directory",
                untouched, Ending::failedBeforeReopening},
        // The part copied is removed.
        Outcome{"CopyExitsWithOne", failingCopy(1), "Update failed: " + exitError(1), untouched,
                Ending::failedBeforeReopening},
        Outcome{"CopyEndedBySignal", failingCopy(9), "Update failed: " + exitError(9), untouched,
                Ending::failedBeforeReopening},
        // A removal that fails is told after the error that caused it, and its leftover stays.
        Outcome{"CopyFailsAndItsRemovalFails",
                [](FakeOperations& o) {
                    o.copyRuns = {{true, {}, 1, {}}};
                    o.removalFaults = {{staging, "Could not remove " + q(staging + "/Contents") +
                                                     ": Read-only file system"}};
                },
                "Update failed: " + exitError(1) + "; Could not remove " +
                    q(staging + "/Contents") + ": Read-only file system",
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-new", "(part)"}},
                Ending::failedBeforeReopening},
        // Nothing is named ready that is not on disk.
        Outcome{"FlushFails", [](FakeOperations& o) { o.flushFaults = {"Input/output error"}; },
                "Update failed: Could not write " + q(staging) + " to disk: Input/output error",
                untouched, Ending::failedBeforeReopening},
        Outcome{"ReadyRenameFails",
                [](FakeOperations& o) {
                    o.moveFaults = {{{staging, ready}, "File exists"}};
                },
                moveError(staging, ready, "File exists"), untouched, Ending::failedBeforeReopening},
        Outcome{"ExchangeFailsAsTheTargetIsMissing",
                [](FakeOperations& o) { o.erase(target); },
                "Update failed: Could not exchange " + q(ready) + " with " + q(target) +
                    ": No such file or directory",
                {},
                Ending::failedBeforeReopening},
        Outcome{"AsideFailsAndTheExchangeBackSucceeds",
                [](FakeOperations& o) {
                    o.moveFaults = {{{ready, previous}, "File exists"}};
                },
                moveError(ready, previous, "File exists"), untouched,
                Ending::failedBeforeReopening},
        // The ready name then holds the installed version: it is never removed.
        Outcome{"AsideFailsAndTheExchangeBackFails",
                [](FakeOperations& o) {
                    o.moveFaults = {{{ready, previous}, "File exists"}};
                    o.exchangeFaults = {std::nullopt, "Input/output error"};
                },
                moveError(ready, previous, "File exists"),
                {{"Orlavo.app", "v2"}, {"Orlavo.app.update-ready-77", "v1"}},
                Ending::failedBeforeReopening},
        Outcome{"FirstMoveFails",
                [](FakeOperations& o) {
                    o.exchangeSupported = false;
                    o.erase(target);
                },
                moveError(target, previous, "No such file or directory"),
                {},
                Ending::failedBeforeReopening},
        Outcome{"SecondMoveFailsAndTheRollbackSucceeds",
                [](FakeOperations& o) {
                    o.exchangeSupported = false;
                    o.moveFaults = {{{ready, target}, "Permission denied"}};
                },
                moveError(ready, target, "Permission denied"), untouched,
                Ending::failedBeforeReopening},
        // The rollback's own error is never the one reported, and with the target path empty
        // the new version is kept for recovery.
        Outcome{
            "SecondMoveFailsAndTheRollbackFails",
            [](FakeOperations& o) {
                o.exchangeSupported = false;
                o.moveFaults = {{{ready, target}, "Permission denied"},
                                {{previous, target}, "Read-only file system"}};
            },
            moveError(ready, target, "Permission denied"),
            {{"Orlavo.app.update-previous-1700000000", "v1"}, {"Orlavo.app.update-ready-77", "v2"}},
            Ending::failedBeforeReopening},
        // After the swap the update stays installed.
        Outcome{"OpenCannotStart",
                [](FakeOperations& o) {
                    o.openRuns = {{false, "Permission denied", 0, {}}};
                },
                "Update failed: Could not start " + q("/stub/open") + " to open " + q(target) +
                    ": Permission denied",
                installed, Ending::failedReopening},
        Outcome{"OpenExitsWithFour",
                [](FakeOperations& o) {
                    o.openRuns = {{true, {}, 4, {}}};
                },
                "Update failed: " + exitError(4), installed, Ending::failedReopening},
        // An unwritable log changes nothing else, and the earlier line is gone all the same.
        Outcome{"LogCannotBeWritten", [](FakeOperations& o) { o.logWritable = false; },
                std::nullopt, installed, Ending::installed}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

// The orders that safety rests on; everything else is judged by what a run leaves.
TEST_F(InstallRun, TheEarlierLogLineIsGoneBeforeTheWaitForTheHost) {
    operations.aliveProbes = 2;
    bool earlierLineSeen = false;
    operations.onProbe = [&](FakeOperations& o) {
        earlierLineSeen |= o.fileAt(logPath).has_value();
    };
    launch("4242");
    EXPECT_EQ(operations.probes, 4);
    EXPECT_FALSE(earlierLineSeen);
}

TEST_F(InstallRun, TheCopyIsOnDiskBeforeItIsNamedReady) {
    launch();
    EXPECT_TRUE(operations.before("flush " + staging, "move " + staging + " " + ready));
}

// Only then does the target path never stand empty.
TEST_F(InstallRun, TheExchangeComesBeforeThePreviousCopyIsNamed) {
    launch();
    EXPECT_TRUE(
        operations.before("exchange " + ready + " " + target, "move " + ready + " " + previous));
    EXPECT_EQ(beside(), installed);
}

TEST_F(InstallRun, TheCardIsUpBeforeTheWorkerStarts) {
    launch();
    EXPECT_TRUE(screen.shownBeforeTheWorker);
}

// Runs that go ahead: what they leave beside the target.
struct GoAhead {
    const char* name;
    std::function<void(FakeOperations&)> arrange;
    Names beside;
};
void PrintTo(const GoAhead& c, std::ostream* out) {
    *out << c.name;
}

class InstallGoesAhead : public InstallRun, public ::testing::WithParamInterface<GoAhead> {};

TEST_P(InstallGoesAhead, AndInstalls) {
    GetParam().arrange(operations);
    launch();
    EXPECT_EQ(logLine(), installedLine + "\n");
    EXPECT_EQ(beside(), GetParam().beside);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallGoesAhead,
    ::testing::Values(
        // Earlier updates' previous copies are never removed.
        GoAhead{"PreviousCopiesOfOtherSeconds",
                [](FakeOperations& o) { o.bundle(target + ".update-previous-1699999999", "v0"); },
                {{"Orlavo.app", "v2"},
                 {"Orlavo.app.update-previous-1699999999", "v0"},
                 {"Orlavo.app.update-previous-1700000000", "v1"}}},
        // The test for Contents and the copy see the tree the link leads to.
        GoAhead{"LinkedSource",
                [](FakeOperations& o) {
                    o.erase(source);
                    o.folder("/store");
                    o.bundle("/store/Orlavo-2.0.app", "v3");
                    o.link(source, "/store/Orlavo-2.0.app");
                },
                {{"Orlavo.app", "v3"}, {"Orlavo.app.update-previous-1700000000", "v1"}}},
        // "Orlavo.app" is 10 bytes and its previous copy's name 37.
        GoAhead{"NameThatJustFits", [](FakeOperations& o) { o.nameLimit = 37; }, installed},
        GoAhead{"UnknownNameLimit", [](FakeOperations& o) { o.nameLimit = std::nullopt; },
                installed},
        // A target missing at start has nothing to compare with, whatever stands there later.
        GoAhead{"TargetMissingAtStartAndMadeBeforeTheClaim",
                [](FakeOperations& o) {
                    o.erase(target);
                    o.onCreate = [](FakeOperations& at) {
                        if (!at.tree.count(target)) at.bundle(target, "v1");
                    };
                },
                installed}),
    [](const ::testing::TestParamInfo<GoAhead>& info) { return std::string(info.param.name); });

} // namespace
