// Long runs of the built program: a host that never quits, SIGKILL at random instants of updates
// of a several-megabyte bundle (to the whole group, and to the assistant alone), and a hundred
// pairs of runs started together on one target.
#include "e2e_support.h"
#include "edge_runs.h"
#include "temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(HostThatNeverQuits, IsCancelledAfterFortySecondsWithNothingTouched) {
    TempDir dir;
    makeBundle(dir / "Applications/Orlavo.app", "1.0", 1000);
    const std::string before = treeDigest(dir.path());
    Child host = Child::start({"/bin/sleep", "1000"}, "/");
    const auto start = std::chrono::steady_clock::now();
    // The source is missing as well: waiting comes before every other test.
    Child assistant =
        Child::start({UPDATER_STUBBED, dir / "Applications/Orlavo.app",
                      dir / "Downloads/Orlavo.app", std::to_string(host.pid()), dir / "update.log"},
                     "/");
    ASSERT_TRUE(waitForFile(dir / "update.log", 90.0));
    // The deadline is counted from the start of the wait, so the log cannot come earlier.
    EXPECT_GE(secondsSince(start), 40.0);
    EXPECT_EQ(readText(dir / "update.log"), "Orlavo did not quit; update cancelled.\n");
    EXPECT_EQ(assistant.wait(30.0), 0);
    fs::remove(dir / "update.log");
    EXPECT_EQ(treeDigest(dir.path()), before);
}

// Each run is killed at a random instant while it copies and swaps. The target path must then
// hold the whole old bundle or the whole new one; a leftover staging or ready copy makes the next
// run refuse and touch nothing.
class CrashConsistency : public ::testing::Test {
  protected:
    TempDir dir;
    std::string oldBundle = dir / "templates/old/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string apps = dir / "Applications";
    std::string target = apps + "/Orlavo.app";
    std::string log = dir / "update.log";
    std::string oldDigest, newDigest;

    void SetUp() override {
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        makeBundle(oldBundle, "1.0", 4 << 20, 150);
        makeBundle(source, "2.0", 5 << 20, 200);
        oldDigest = treeDigest(oldBundle);
        newDigest = treeDigest(source);
    }

    void freshInstall() {
        fs::remove_all(apps);
        fs::remove(log);
        fs::create_directories(apps);
        fs::copy(oldBundle, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }

    Child startAssistant(const char* program = UPDATER_STUBBED) {
        return Child::start({program, target, source, "0", log}, "/");
    }

    // Seconds from the start of a run to its log line.
    double timeOfOneRun(const char* program = UPDATER_STUBBED) {
        freshInstall();
        const auto start = std::chrono::steady_clock::now();
        Child run = startAssistant(program);
        EXPECT_TRUE(waitForFile(log, 30.0));
        const double seconds = secondsSince(start);
        EXPECT_EQ(treeDigest(target), newDigest);
        return seconds;
    }

    void expectNextRunRefusesAndTouchesNothing() {
        fs::remove(log);
        const std::string before = treeDigest(apps);
        Child next = startAssistant();
        ASSERT_TRUE(waitForFile(log, 30.0));
        EXPECT_EQ(readText(log), "A previous update needs recovery.\n");
        EXPECT_EQ(treeDigest(apps), before);
    }
};

TEST_F(CrashConsistency, KilledRunsLeaveTheOldOrTheNewBundleNeverNothing) {
    const double window = std::max(timeOfOneRun(), timeOfOneRun());
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> instant(0.0, window);
    int oldKept = 0, newInstalled = 0, leftovers = 0;
    for (int runIndex = 0; runIndex < 60; ++runIndex) {
        SCOPED_TRACE("run " + std::to_string(runIndex) + ", seed " + std::to_string(seed));
        freshInstall();
        {
            Child run = startAssistant();
            const pid_t group = run.pid();
            std::this_thread::sleep_for(std::chrono::duration<double>(instant(random)));
            run.killGroup();
            run.wait(10.0);
            // The copy program dies with the group and, orphaned, comes to this process (a
            // subreaper): once it is reaped nothing can write any more.
            while (waitpid(-group, nullptr, 0) > 0 || errno == EINTR) {
            }
        }
        const std::string found = treeDigest(target);
        ASSERT_TRUE(found == oldDigest || found == newDigest) << "target holds " << found;
        (found == oldDigest ? oldKept : newInstalled)++;
        const std::vector<std::string> previous =
            namesStartingWith(apps, "Orlavo.app.update-previous-");
        for (const std::string& name : previous)
            EXPECT_EQ(treeDigest(apps + "/" + name), oldDigest);
        const bool readyLeft = !namesStartingWith(apps, "Orlavo.app.update-ready-").empty();
        if (fs::exists(fs::symlink_status(target + ".update-new")) || readyLeft) {
            ++leftovers;
            expectNextRunRefusesAndTouchesNothing();
            EXPECT_EQ(treeDigest(target), found);
        }
    }
    std::cout << "window " << window << " s: old kept " << oldKept << ", new installed "
              << newInstalled << ", leftovers " << leftovers << "\n";
}

// The assistant alone is killed (kill -9 of its process id, as a crash does), never its group,
// at a random instant of a real copy: the copy program dies with it, so the guide's recovery,
// run at once, leaves nothing behind and the next update installs.
TEST_F(CrashConsistency, KillingTheAssistantAloneLetsTheGuidesRecoveryWorkAtOnce) {
    const double window =
        std::max(timeOfOneRun(UPDATER_REAL_COPY), timeOfOneRun(UPDATER_REAL_COPY));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> instant(0.0, window);
    int killedCopies = 0, finishedCopies = 0;
    for (int runIndex = 0; runIndex < 100; ++runIndex) {
        SCOPED_TRACE("run " + std::to_string(runIndex) + ", seed " + std::to_string(seed));
        freshInstall();
        {
            Child run = startAssistant(UPDATER_REAL_COPY);
            std::this_thread::sleep_for(std::chrono::duration<double>(instant(random)));
            kill(run.pid(), SIGKILL);
            run.wait(10.0);
        }
        const double killedAt = secondsSinceEpoch();
        const std::string stagingAtTheKill = treeDigest(target + ".update-new");
        // An orphaned copy program comes to this process (a subreaper); once every one has
        // ended, nothing can write beside the target any more.
        for (int status = 0, tries = 0; tries < 3000; ++tries) {
            const pid_t ended = waitpid(-1, &status, WNOHANG);
            if (ended < 0 && errno != EINTR) break;
            if (ended > 0) (WIFSIGNALED(status) ? killedCopies : finishedCopies)++;
            if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(treeDigest(target + ".update-new"), stagingAtTheKill)
            << "the copy went on after the assistant was killed";
        recoverAsTheGuideSays(target);
        const std::string found = treeDigest(target);
        ASSERT_TRUE(found == oldDigest || found == newDigest) << "target holds " << found;
        ASSERT_FALSE(fs::exists(fs::symlink_status(target + ".update-new")));
        fs::remove(log);
        // The killed run's previous copy carries its start second: the next run begins after it.
        while (std::floor(secondsSinceEpoch()) <= std::floor(killedAt))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Child next = startAssistant(UPDATER_REAL_COPY);
        EXPECT_EQ(next.wait(60.0), 0);
        ASSERT_EQ(readText(log).rfind(edge_runs::installedPrefix, 0), 0u) << readText(log);
        EXPECT_EQ(treeDigest(target), newDigest);
    }
    std::cout << "window " << window << " s: orphaned copy programs killed " << killedCopies
              << ", ended by themselves " << finishedCopies << "\n";
}

TEST(ConcurrentRuns, AHundredPairsOnOneTarget) {
    edge_runs::runConcurrentPairs(UPDATER_STUBBED, 100);
}

} // namespace
