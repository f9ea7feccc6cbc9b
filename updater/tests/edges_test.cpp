// The built program at the edges a hostile host or a busy machine brings: two runs on one target,
// a kill of the assistant alone during the copy, log paths that are not regular files, a log
// that cannot be written, the copy program's own error, and names too long for the names the
// update places beside them.
#include "edge_runs.h"

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string copyFailed =
    "Update failed: The operation couldn\u2019t be completed. (OrlavoUpdater error 1.)";

TEST(ConcurrentRuns, OneOfAPairInstallsAndNothingButAWholeVersionIsEverInstalled) {
    edge_runs::runConcurrentPairs(UPDATER_STUBBED, 5);
}

// The order the pairs can only sometimes bring, made certain: the second run starts first but
// waits for a host, the first installs meanwhile, and the second reaches its claim in a later
// second, where no previous or ready name of its own tells. It refuses, and its staging folder
// is gone.
TEST(ConcurrentRuns, ARunReachingItsClaimAfterAnotherSwappedInALaterSecondRefuses) {
    TempDir dir;
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string first = dir / "one/Orlavo.app";
    const std::string second = dir / "two/Orlavo.app";
    const std::string firstLog = dir / "one.log";
    const std::string secondLog = dir / "two.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(first, "2.0", 1000);
    makeBundle(second, "3.0", 1000);
    Child host = Child::start({"/bin/sleep", "1000"}, "/");
    // The waiting run removes an earlier log first, then takes the target's device and inode.
    {
        std::ofstream earlier(secondLog);
        earlier << "earlier\n";
    }
    Child waiting =
        Child::start({UPDATER_STUBBED, target, second, std::to_string(host.pid()), secondLog}, "/");
    for (int tries = 0; tries < 6000 && present(secondLog); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(present(secondLog)) << "the waiting run never started";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    Child installing = Child::start({UPDATER_STUBBED, target, first, "0", firstLog}, "/");
    EXPECT_EQ(installing.wait(), 0);
    ASSERT_TRUE(readText(firstLog).starts_with(edge_runs::installedPrefix)) << readText(firstLog);
    const double installedAt = secondsSinceEpoch();
    while (std::floor(secondsSinceEpoch()) <= std::floor(installedAt))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.killGroup();
    host.wait();

    ASSERT_TRUE(waitForFile(secondLog, 60.0));
    EXPECT_EQ(readText(secondLog), "A previous update needs recovery.\n");
    EXPECT_EQ(waiting.wait(), 0);
    EXPECT_EQ(treeDigest(target), treeDigest(first));
    EXPECT_FALSE(present(target + ".update-new"));
    EXPECT_EQ(namesStartingWith(dir / "Applications", "Orlavo.app.update-").size(), 1u);
}

// The copy program of an assistant killed alone (kill -9 of its process id, not of its group)
// dies with it; the guide's recovery then works at once and the next update installs.
TEST(KilledAlone, TheCopyProgramDiesWithTheAssistantAndTheGuidesRecoveryWorksAtOnce) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TempDir dir;
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    const std::string oldDigest = treeDigest(target);
    Child run = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/",
                             {{"STUB_COPY_HOLD", dir / "copy.pid"}});
    ASSERT_TRUE(waitForFile(dir / "copy.pid", 60.0));
    const pid_t copy = static_cast<pid_t>(std::stol(readText(dir / "copy.pid")));
    ASSERT_EQ(kill(run.pid(), SIGKILL), 0);
    EXPECT_EQ(run.wait(), 128 + SIGKILL);

    // The copy program, orphaned, comes to this process (a subreaper).
    int status = 0;
    pid_t ended = 0;
    for (int tries = 0; tries < 2000 && ended == 0; ++tries) {
        ended = waitpid(copy, &status, WNOHANG);
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        kill(copy, SIGKILL);
        waitpid(copy, nullptr, 0);
    }
    ASSERT_EQ(ended, copy) << "the copy program outlived the assistant";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    recoverAsTheGuideSays(target);
    EXPECT_EQ(treeDigest(target), oldDigest);
    EXPECT_FALSE(present(target + ".update-new"));
    Child next = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/");
    EXPECT_EQ(next.wait(), 0);
    EXPECT_TRUE(readText(log).starts_with(edge_runs::installedPrefix)) << readText(log);
    EXPECT_EQ(treeDigest(target), treeDigest(source));
}

// A log path that holds something other than a regular file: the line goes into it in place
// (character devices, fifos with a reader) or nowhere, and the node itself is never replaced.
enum class Node { nullDevice, fifoWithReader, fifoWithoutReader, directory };

struct LogNodeCase {
    const char* name;
    Node node;
};
void PrintTo(const LogNodeCase& c, std::ostream* out) {
    *out << c.name;
}

class LogThatIsNotARegularFile : public ::testing::TestWithParam<LogNodeCase> {
  protected:
    TempDir dir;
    std::string target = dir / "Applications/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string log = dir / "logs/update.log";
};

mode_t typeOf(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

TEST_P(LogThatIsNotARegularFile, IsWrittenInPlaceOrNotAtAllAndNeverReplaced) {
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    fs::create_directories(dir / "logs");
    int reader = -1;
    switch (GetParam().node) {
    case Node::nullDevice:
        if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
        ASSERT_EQ(mknod(log.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        break;
    case Node::fifoWithReader:
    case Node::fifoWithoutReader:
        ASSERT_EQ(mkfifo(log.c_str(), 0666), 0);
        if (GetParam().node == Node::fifoWithReader)
            reader = open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        break;
    case Node::directory:
        fs::create_directories(log);
        break;
    }
    const mode_t type = typeOf(log);
    Child run = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(typeOf(log), type) << "the log path was replaced";
    EXPECT_EQ(listNames(dir / "logs"), (std::vector<std::string>{"update.log"}));
    EXPECT_EQ(treeDigest(target), treeDigest(source));
    if (reader >= 0) {
        std::string received(4096, '\0');
        const ssize_t length = read(reader, received.data(), received.size());
        close(reader);
        ASSERT_GT(length, 0);
        received.resize(static_cast<std::size_t>(length));
        EXPECT_TRUE(received.starts_with(edge_runs::installedPrefix)) << received;
        EXPECT_TRUE(received.ends_with("\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, LogThatIsNotARegularFile,
    ::testing::Values(LogNodeCase{"NullDevice", Node::nullDevice},
                      LogNodeCase{"FifoWithReader", Node::fifoWithReader},
                      LogNodeCase{"FifoWithoutReader", Node::fifoWithoutReader},
                      LogNodeCase{"Directory", Node::directory}),
    [](const ::testing::TestParamInfo<LogNodeCase>& info) { return std::string(info.param.name); });

// A run whose own line cannot be written (every fsync fails, as on a failing disk) leaves no
// earlier run's line behind to be read as its outcome.
TEST(LogThatCannotBeWritten, LeavesNoEarlierLineLookingCurrent) {
    const std::string strace = "/usr/bin/strace";
    if (!fs::exists(strace)) GTEST_SKIP() << "strace is not installed";
    TempDir dir;
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    writeText(log, "Update installed; previous app preserved at /earlier/Orlavo.app\n");
    Child run = Child::start({strace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                              "inject=fsync:error=EIO", UPDATER_STUBBED, target, source, "0", log},
                             "/");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(readText(log), "");
    EXPECT_EQ(listNames(dir.path()), (std::vector<std::string>{"Applications", "Downloads"}));
}

// The copy program's first line on standard error follows the fixed description, cut to
// 200 bytes at a character boundary; its other lines are left out.
TEST(CopyThatFails, ItsFirstErrorLineFollowsTheDescription) {
    TempDir dir;
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    std::string error = "cp: cannot create \u201cOrlav\u201d: ";
    while (error.size() < 400)
        error += "\u00e9t\u00e9 ";
    Child run = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/",
                             {{"STUB_COPY_ERROR", error}});
    EXPECT_EQ(run.wait(), 0);
    std::size_t cut = 200; // a character the limit cuts through is left out whole
    while ((static_cast<unsigned char>(error[cut]) & 0xC0) == 0x80)
        --cut;
    const std::string kept = error.substr(0, cut);
    ASSERT_LT(kept.size(), 200u) << "the test's text must put a character across the limit";
    EXPECT_EQ(readText(log), copyFailed + "; " + kept + "\n");
    EXPECT_FALSE(present(target + ".update-new"));
}

TEST(CopyThatFails, TheRealCopyProgramTellsWhy) {
    if (!unprivilegedCanRun(UPDATER_REAL_COPY))
        GTEST_SKIP() << "user 65534 cannot reach " << UPDATER_REAL_COPY
                     << ": a folder above the build is closed to other users";
    TempDir dir(Reach::otherUsers);
    if (!dir.reachableByOtherUsers())
        GTEST_SKIP() << "no temporary folder here is open to user 65534";
    const std::string target = dir / "Applications/Orlavo.app";
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    writeText(source + "/Contents/Resources/secret", "unreadable");
    fs::permissions(source + "/Contents/Resources/secret", fs::perms::none);
    handToUnprivilegedUser(dir.path());
    Child run = Child::start({UPDATER_REAL_COPY, target, source, "0", log}, "/", {}, true);
    EXPECT_EQ(run.wait(), 0);
    const std::string line = readText(log);
    EXPECT_TRUE(line.starts_with(copyFailed + "; /bin/cp: cannot open")) << line;
    EXPECT_TRUE(line.ends_with("secret' for reading: Permission denied\n")) << line;
    EXPECT_FALSE(present(target + ".update-new"));
}

// The previous copy's name is the target's plus 27 bytes: a name that leaves no room for it is
// refused before anything is copied.
TEST(NameTooLong, IsRefusedBeforeAnythingIsCopied) {
    TempDir dir;
    const std::string name = std::string(225, 'O') + ".app"; // 229 bytes
    const std::string target = dir / ("Applications/" + name);
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    const std::string before = treeDigest(dir / "Applications");
    Child run = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/",
                             {{"STUB_RECORD_DIR", dir.path()}});
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(readText(log), "Update failed: Refusing to replace \u201c" + target +
                                 "\u201d: its name is too long for the names placed beside it "
                                 "(229 bytes, at most 228 here).\n");
    EXPECT_FALSE(present(dir / "copy.args")) << "the copy program was started";
    EXPECT_EQ(treeDigest(dir / "Applications"), before);
}

TEST(NameTooLong, TheLongestNameThatFitsIsUpdated) {
    TempDir dir;
    const std::string name = std::string(224, 'O') + ".app"; // 228 bytes
    const std::string target = dir / ("Applications/" + name);
    const std::string source = dir / "Downloads/Orlavo.app";
    const std::string log = dir / "update.log";
    makeBundle(target, "1.0", 1000);
    makeBundle(source, "2.0", 1000);
    Child run = Child::start({UPDATER_STUBBED, target, source, "0", log}, "/");
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(readText(log).starts_with(edge_runs::installedPrefix)) << readText(log);
    EXPECT_EQ(treeDigest(target), treeDigest(source));
}

} // namespace
