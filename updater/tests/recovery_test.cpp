// SIGKILL at every step of an update, through the fault-injecting build of the program: each
// leftover name must hold what the host's guide says it holds, and the guide's recovery must end
// with a working application and no version lost.
#include "e2e_support.h"
#include "temp_dir.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

// What a kill leaves beside the target, besides previous copies.
enum class Left { nothing, stagingCopy, readyNewVersion, readyInstalledVersion, noTarget };

struct KillPoint {
    const char* name;
    std::string killAfter; // operation#call, "" for a kill from the copy program
    Left left;
    bool noExchange = false;
};
void PrintTo(const KillPoint& point, std::ostream* out) {
    *out << point.name;
}

class KilledAtAStep : public ::testing::TestWithParam<KillPoint> {
  protected:
    TempDir dir;
    std::string apps = dir / "Applications";
    std::string target = apps + "/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string log = dir / "update.log";
    std::string oldDigest, newDigest;

    void SetUp() override {
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        makeBundle(target, "1.0", 256 * 1024, 20);
        makeBundle(source, "2.0", 384 * 1024, 30);
        oldDigest = treeDigest(target);
        newDigest = treeDigest(source);
    }

    // Runs the faulty program to its death; every process it started is reaped as well.
    void runUntilKilled(const KillPoint& point) {
        std::map<std::string, std::string> variables;
        if (point.killAfter.empty())
            variables["STUB_COPY_PARTIAL"] = "1";
        else
            variables["UPDATER_TEST_KILL_AFTER"] = point.killAfter;
        if (point.noExchange) variables["UPDATER_TEST_NO_EXCHANGE"] = "1";
        Child run = Child::start({UPDATER_FAULTY, target, source, "0", log}, "/", variables);
        const pid_t group = run.pid();
        EXPECT_EQ(run.wait(), 128 + SIGKILL);
        kill(-group, SIGKILL);
        while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
        }
    }

    std::vector<std::string> withPrefix(const std::string& infix) const {
        return namesStartingWith(apps, "Orlavo.app" + infix);
    }

    Left leftover() const {
        if (!present(target)) return Left::noTarget;
        if (present(target + ".update-new")) return Left::stagingCopy;
        const std::vector<std::string> ready = withPrefix(".update-ready-");
        if (ready.empty()) return Left::nothing;
        const bool swapped = inodeOf(apps + "/" + ready.front()) !=
                             ready.front().substr(ready.front().rfind('-') + 1);
        return swapped ? Left::readyInstalledVersion : Left::readyNewVersion;
    }

    // Each leftover holds exactly what the guide says it can hold.
    void expectLeftoversAsTheGuideSays() {
        if (present(target + ".update-new")) {
            EXPECT_NE(treeDigest(target + ".update-new"), oldDigest);
            EXPECT_EQ(treeDigest(target), oldDigest);
        }
        for (const std::string& ready : withPrefix(".update-ready-")) {
            const std::string path = apps + "/" + ready;
            const bool swapped = inodeOf(path) != ready.substr(ready.rfind('-') + 1);
            if (!present(target)) {
                EXPECT_EQ(treeDigest(path), newDigest);
            } else if (!swapped) {
                EXPECT_EQ(treeDigest(path), newDigest);
                EXPECT_EQ(treeDigest(target), oldDigest);
            } else {
                EXPECT_EQ(treeDigest(path), oldDigest);
                EXPECT_EQ(treeDigest(target), newDigest);
            }
        }
        if (!present(target)) {
            EXPECT_EQ(withPrefix(".update-ready-").size(), 1u);
            ASSERT_EQ(withPrefix(".update-previous-").size(), 1u);
            EXPECT_EQ(treeDigest(apps + "/" + withPrefix(".update-previous-").front()), oldDigest);
        }
    }

    // A working application at the target, the old version kept somewhere, nothing left over.
    void expectNothingLost() {
        const std::string found = treeDigest(target);
        EXPECT_TRUE(found == oldDigest || found == newDigest) << "target holds " << found;
        bool oldKept = found == oldDigest;
        for (const std::string& previous : withPrefix(".update-previous-"))
            oldKept = oldKept || treeDigest(apps + "/" + previous) == oldDigest;
        EXPECT_TRUE(oldKept);
        EXPECT_FALSE(present(target + ".update-new"));
        EXPECT_TRUE(withPrefix(".update-ready-").empty());
    }
};

TEST_P(KilledAtAStep, LeavesNamesThatMeanOneThingAndTheGuidesRecoveryLosesNothing) {
    runUntilKilled(GetParam());
    const double killedAt = secondsSinceEpoch();
    EXPECT_EQ(leftover(), GetParam().left);
    expectLeftoversAsTheGuideSays();
    recoverAsTheGuideSays(target);
    expectNothingLost();

    // The killed run's previous copy carries its start second: the next run begins after it.
    while (std::floor(secondsSinceEpoch()) <= std::floor(killedAt))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Child again = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/");
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u)
        << readText(log);
    EXPECT_EQ(treeDigest(target), newDigest);
    expectNothingLost();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KilledAtAStep,
    ::testing::Values(
        KillPoint{"DuringTheCopy", "", Left::stagingCopy},
        KillPoint{"AfterTheCopy", "runProgram#1", Left::stagingCopy},
        KillPoint{"AfterTheFlush", "flushFileSystem#1", Left::stagingCopy},
        KillPoint{"AfterReadingTheIdentity", "entryIdentity#1", Left::stagingCopy},
        KillPoint{"AfterNamingTheCopyReady", "moveNoReplace#1", Left::readyNewVersion},
        KillPoint{"AfterTheExchange", "exchange#1", Left::readyInstalledVersion},
        KillPoint{"AfterNamingThePreviousCopy", "moveNoReplace#2", Left::nothing},
        KillPoint{"AfterFlushingTheNames", "flushDirectoryOf#1", Left::nothing},
        KillPoint{"AfterReopening", "runProgram#2", Left::nothing},
        KillPoint{"AfterTheLog", "writeFileDurably#1", Left::nothing},
        KillPoint{"FallbackAfterTheExchangeIsRefused", "exchange#1", Left::readyNewVersion, true},
        KillPoint{"FallbackBetweenTheTwoRenames", "moveNoReplace#2", Left::noTarget, true},
        KillPoint{"FallbackAfterBothRenames", "moveNoReplace#3", Left::nothing, true}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

// Inside the log write, between the temporary file and its rename (the rename is made to fail
// with SIGKILL by strace): the temporary file stays, and the next run removes it.
TEST(KilledInsideTheLogWrite, LeavesATemporaryThatTheNextRunRemoves) {
    const std::string strace = "/usr/bin/strace";
    if (!fs::exists(strace)) GTEST_SKIP() << "strace is not installed";
    TempDir dir;
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "logs/update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    fs::create_directories(dir / "logs");
    Child killed =
        Child::start({strace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=rename", "-e",
                      "inject=rename:signal=KILL", UPDATER_STUBBED, target, source, "0", log},
                     "/");
    killed.wait();
    const std::vector<std::string> left = namesStartingWith(dir / "logs", ".update.log.tmp-");
    ASSERT_EQ(left.size(), 1u) << "no temporary log was left by the kill";
    EXPECT_FALSE(fs::exists(log));
    EXPECT_EQ(treeDigest(target), treeDigest(source));

    makeBundle(dir / "Applications/Other.app", "1.0", 1000);
    Child next =
        Child::start({UPDATER_STUBBED, dir / "Applications/Other.app", source, "0", log}, "/");
    EXPECT_EQ(next.wait(), 0);
    EXPECT_EQ(listNames(dir / "logs"), (std::vector<std::string>{"update.log"}));
}

} // namespace
