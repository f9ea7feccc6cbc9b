// The built update-assistant on real temporary directories, with no display: every outcome with
// the files afterwards, hostile names, and a real host process that quits.
#include "e2e_support.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string exitError(int status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(status) + ".)";
}
std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

std::vector<std::string> recorded(const std::string& path) {
    std::vector<std::string> arguments;
    std::string text = readText(path);
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1)
        arguments.push_back(text.substr(start, end - start));
    return arguments;
}

class EndToEnd : public ::testing::Test {
  protected:
    TempDir dir;
    std::string apps = dir / "Applications";
    std::string target = apps + "/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string log = dir / "logs/update.log";
    std::string staging = target + ".update-new";
    std::string oldDigest, newDigest;
    std::map<std::string, std::string> variables{{"STUB_RECORD_DIR", dir.path()}};

    void SetUp() override {
        makeBundle(target, "1.0", 64 * 1024);
        makeBundle(source, "2.0", 96 * 1024, 6);
        fs::create_directories(dir / "logs");
        oldDigest = treeDigest(target);
        newDigest = treeDigest(source);
    }

    // Runs the program to its end; its exit status.
    int run(const std::string& program, const std::vector<std::string>& args,
            const std::string& cwd = "/") {
        std::vector<std::string> all = {program};
        all.insert(all.end(), args.begin(), args.end());
        Child child = Child::start(all, cwd, variables);
        const std::optional<int> status = child.wait();
        EXPECT_TRUE(status.has_value()) << "the program did not end";
        return status.value_or(-1);
    }
    int runStubbed(const std::string& parentID = "0") {
        return run(UPDATER_STUBBED, {target, source, parentID, log});
    }
    std::vector<std::string> previousCopies() const {
        return namesStartingWith(apps, "Orlavo.app.update-previous-");
    }
    void expectUntouched() {
        EXPECT_EQ(treeDigest(target), oldDigest);
        EXPECT_EQ(listNames(apps), (std::vector<std::string>{"Orlavo.app"}));
        EXPECT_EQ(treeDigest(source), newDigest);
    }
};

class WrongCount : public EndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(WrongCount, ExitsWithTwoAndTouchesNothing) {
    const std::vector<std::string> all = {target, source, "0", log, log, log, log, log};
    const std::vector<std::string> given(all.begin(), all.begin() + GetParam());
    EXPECT_EQ(run(UPDATER_SHIPPED, given), 2);
    EXPECT_FALSE(fs::exists(log));
    expectUntouched();
}

INSTANTIATE_TEST_SUITE_P(Counts, WrongCount, ::testing::Values(0, 1, 3, 5, 6, 8));

TEST_F(EndToEnd, SuccessInstallsTheNewVersionAndKeepsTheOld) {
    writeText(log, "an earlier run's much longer line\nand a second line\n");
    const double before = secondsSinceEpoch();
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(treeDigest(target), newDigest);
    ASSERT_EQ(previousCopies().size(), 1u);
    const std::string previous = apps + "/" + previousCopies().front();
    EXPECT_EQ(treeDigest(previous), oldDigest);
    const long long seconds = std::stoll(previous.substr(previous.rfind('-') + 1));
    EXPECT_GE(seconds, static_cast<long long>(before));
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging)));
    EXPECT_EQ(readText(log), "Update installed; previous app preserved at " + previous + "\n");
    EXPECT_EQ(listNames(dir / "logs"), (std::vector<std::string>{"update.log"}));
    EXPECT_EQ(recorded(dir / "open.args"), (std::vector<std::string>{target}));
}

TEST_F(EndToEnd, SourceWithoutContentsIsMissing) {
    fs::remove_all(source + "/Contents");
    newDigest = treeDigest(source);
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "Verified update bundle is missing.\n");
    expectUntouched();
    EXPECT_FALSE(fs::exists(dir / "copy.args"));
}

TEST_F(EndToEnd, SourceThatIsAFileIsMissing) {
    fs::remove_all(source);
    writeText(source, "not a bundle");
    newDigest = treeDigest(source);
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "Verified update bundle is missing.\n");
    expectUntouched();
}

TEST_F(EndToEnd, StagingLeftoverNeedsRecoveryAndStays) {
    makeBundle(staging, "half", 1000);
    const std::string leftover = treeDigest(staging);
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "A previous update needs recovery.\n");
    EXPECT_EQ(treeDigest(target), oldDigest);
    EXPECT_EQ(treeDigest(staging), leftover);
    EXPECT_TRUE(previousCopies().empty());
    EXPECT_FALSE(fs::exists(dir / "copy.args"));
}

TEST_F(EndToEnd, DanglingLinkAtTheStagingNameNeedsRecovery) {
    fs::create_symlink(dir / "elsewhere", staging);
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "A previous update needs recovery.\n");
    EXPECT_TRUE(fs::is_symlink(staging));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    EXPECT_EQ(treeDigest(target), oldDigest);
}

TEST_F(EndToEnd, CopyExitingWithOneRemovesTheStagingCopy) {
    variables["STUB_COPY_STATUS"] = "1";
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "Update failed: " + exitError(1) + "\n");
    expectUntouched();
}

TEST_F(EndToEnd, CopyThatCannotStartLeavesEverythingAsItWas) {
    EXPECT_EQ(run(UPDATER_NO_COPY, {target, source, "0", log}), 0);
    const std::string program =
        fs::path(UPDATER_NO_COPY).parent_path().string() + "/no-such-dir/copy";
    EXPECT_EQ(readText(log), "Update failed: Could not start " + q(program) + " to copy " +
                                 q(source) + " to " + q(staging) + ": No such file or directory\n");
    expectUntouched();
}

TEST_F(EndToEnd, MissingTargetFailsAfterTheCopyAndRemovesIt) {
    fs::remove_all(target);
    EXPECT_EQ(runStubbed(), 0);
    // The copy is renamed after its identity before the exchange.
    const std::string line = readText(log);
    EXPECT_EQ(line.rfind("Update failed: Could not exchange \u201c" + target + ".update-ready-", 0),
              0u)
        << line;
    EXPECT_TRUE(line.ends_with("\u201d with " + q(target) + ": No such file or directory\n"))
        << line;
    EXPECT_TRUE(listNames(apps).empty());
    EXPECT_TRUE(fs::exists(dir / "copy.args"));
}

TEST_F(EndToEnd, OpenExitingWithFourKeepsTheUpdateInstalled) {
    variables["STUB_OPEN_STATUS"] = "4";
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log), "Update failed: " + exitError(4) + "\n");
    EXPECT_EQ(treeDigest(target), newDigest);
    ASSERT_EQ(previousCopies().size(), 1u);
    EXPECT_EQ(treeDigest(apps + "/" + previousCopies().front()), oldDigest);
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(EndToEnd, OpenThatCannotStartKeepsTheUpdateInstalled) {
    EXPECT_EQ(run(UPDATER_NO_OPEN, {target, source, "0", log}), 0);
    const std::string program =
        fs::path(UPDATER_NO_OPEN).parent_path().string() + "/no-such-dir/open";
    EXPECT_EQ(readText(log), "Update failed: Could not start " + q(program) + " to open " +
                                 q(target) + ": No such file or directory\n");
    EXPECT_EQ(treeDigest(target), newDigest);
    ASSERT_EQ(previousCopies().size(), 1u);
    EXPECT_EQ(treeDigest(apps + "/" + previousCopies().front()), oldDigest);
}

TEST_F(EndToEnd, MissingLogDirectoryGivesNoLogAndTheSameUpdate) {
    log = dir / "no-such-dir/update.log";
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_FALSE(fs::exists(dir / "no-such-dir"));
    EXPECT_EQ(treeDigest(target), newDigest);
    EXPECT_EQ(previousCopies().size(), 1u);
}

TEST_F(EndToEnd, EarlierPreviousCopiesNeitherBlockNorGo) {
    makeBundle(target + ".update-previous-1000", "0.9", 100);
    const std::string earlier = treeDigest(target + ".update-previous-1000");
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u);
    EXPECT_EQ(treeDigest(target + ".update-previous-1000"), earlier);
    EXPECT_EQ(previousCopies().size(), 2u);
}

TEST_F(EndToEnd, TargetThatIsAFileIsKeptAsThePreviousCopy) {
    fs::remove_all(target);
    writeText(target, "a file where the app should be");
    oldDigest = treeDigest(target);
    EXPECT_EQ(runStubbed(), 0);
    EXPECT_EQ(treeDigest(target), newDigest);
    ASSERT_EQ(previousCopies().size(), 1u);
    EXPECT_EQ(treeDigest(apps + "/" + previousCopies().front()), oldDigest);
}

// Relative names with a leading dash, spaces, quotes, a line break and non-ASCII letters reach
// each child program as one absolute argument each.
TEST_F(EndToEnd, HostileNamesReachTheChildProgramsAsOneArgumentEach) {
    const std::string name = "-n \"Or'lavo\"\n\xc3\xa9 $(x).app";
    const std::string hostileTarget = apps + "/" + name;
    const std::string hostileSource = dir / ("Downloads/--" + name);
    fs::rename(target, hostileTarget);
    fs::rename(source, hostileSource);
    EXPECT_EQ(run(UPDATER_STUBBED,
                  {"Applications/" + name, "Downloads/--" + name + "/", "0", "logs/update.log"},
                  dir.path()),
              0);
    EXPECT_EQ(recorded(dir / "copy.args"),
              (std::vector<std::string>{"-a", "--", hostileSource, hostileTarget + ".update-new"}));
    EXPECT_EQ(recorded(dir / "open.args"), (std::vector<std::string>{hostileTarget}));
    EXPECT_EQ(treeDigest(hostileTarget), newDigest);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at " + hostileTarget +
                                      ".update-previous-",
                                  0),
              0u);
}

TEST_F(EndToEnd, WaitsForARealHostThatQuitsAfterHalfASecond) {
    Child host = Child::start({"/bin/sleep", "0.5"}, "/");
    Child assistant = Child::start(
        {UPDATER_STUBBED, target, source, std::to_string(host.pid()), log}, "/", variables);
    // It leaves the test's session, so that a signal to the host's group cannot reach it.
    for (int i = 0; i < 120000 && getsid(assistant.pid()) != assistant.pid(); ++i)
        usleep(1000);
    EXPECT_EQ(getsid(assistant.pid()), assistant.pid());
    // The host has ended but is not reaped: it still counts as running, so no log may exist yet.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(host.pid()), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(fs::exists(log));
    EXPECT_EQ(treeDigest(target), oldDigest);
    EXPECT_EQ(host.wait(), 0);
    EXPECT_EQ(assistant.wait(), 0);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u);
    EXPECT_EQ(treeDigest(target), newDigest);
}

// The shipped program, with its own child programs, on a run that needs none of them.
TEST_F(EndToEnd, ShippedProgramReportsAMissingBundle) {
    EXPECT_EQ(run(UPDATER_SHIPPED, {target, dir / "nothing", "not a pid", log}), 0);
    EXPECT_EQ(readText(log), "Verified update bundle is missing.\n");
    expectUntouched();
}

} // namespace
