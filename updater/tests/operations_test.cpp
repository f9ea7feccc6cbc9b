// The system operations on real temporary directories and real child processes.
#include "system_operations.h"
#include "temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Operations : public ::testing::Test {
  protected:
    explicit Operations(Reach reach = Reach::owner) : dir(reach) {}

    TempDir dir;
    std::unique_ptr<InstallOperations> ops = makeSystemOperations();

    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
};

// Cases that run the check as another user, in a folder that user can reach.
class OperationsAsOtherUser : public Operations {
  protected:
    OperationsAsOtherUser() : Operations(Reach::otherUsers) {}
    void SetUp() override {
        if (!dir.reachableByOtherUsers())
            GTEST_SKIP() << "no temporary folder here is open to user 65534";
    }
};

TEST_F(Operations, DanglingLinkIsAnEntryButNoPath) {
    fs::create_symlink(dir / "nowhere", dir / "link");
    EXPECT_TRUE(ops->entryExists(dir / "link"));
    EXPECT_FALSE(ops->pathExists(dir / "link"));
    EXPECT_FALSE(ops->entryExists(dir / "nothing"));
}

TEST_F(Operations, PathExistsForFilesAndDirectoriesThroughLinks) {
    writeText(dir / "bundle/Contents/Info", "x");
    fs::create_symlink(dir / "bundle", dir / "alias");
    EXPECT_TRUE(ops->pathExists(dir / "bundle/Contents"));
    EXPECT_TRUE(ops->pathExists(dir / "bundle/Contents/Info"));
    EXPECT_TRUE(ops->pathExists(dir / "alias/Contents"));
    EXPECT_FALSE(ops->pathExists(dir / "bundle/Contents/Info/Contents"));
}

TEST_F(Operations, ExchangeSwapsTwoTreesInOneStep) {
    writeText(dir / "a/marker", "a");
    writeText(dir / "b", "b is a file");
    const Exchange result = ops->exchange(dir / "a", dir / "b");
    ASSERT_EQ(result.outcome, Exchange::Outcome::done) << result.error;
    EXPECT_EQ(readText(dir / "b/marker"), "a");
    EXPECT_EQ(readText(dir / "a"), "b is a file");
}

TEST_F(Operations, ExchangeWithAMissingNameFailsWithTheSystemText) {
    writeText(dir / "a/marker", "a");
    const Exchange result = ops->exchange(dir / "a", dir / "missing");
    EXPECT_EQ(result.outcome, Exchange::Outcome::failed);
    EXPECT_EQ(result.error, "No such file or directory");
    EXPECT_EQ(readText(dir / "a/marker"), "a");
}

TEST_F(Operations, MoveNeverReplacesAnExistingDestination) {
    writeText(dir / "a/marker", "a");
    fs::create_directory(dir / "empty");
    writeText(dir / "file", "f");
    EXPECT_EQ(ops->moveNoReplace(dir / "a", dir / "empty"), "File exists");
    EXPECT_EQ(ops->moveNoReplace(dir / "file", dir / "empty"), "File exists");
    EXPECT_EQ(ops->moveNoReplace(dir / "a", dir / "b"), std::nullopt);
    EXPECT_EQ(readText(dir / "b/marker"), "a");
    EXPECT_EQ(ops->moveNoReplace(dir / "a", dir / "c"), "No such file or directory");
}

TEST_F(Operations, RemoveTreeRemovesLinksButNotWhatTheyPointTo) {
    writeText(dir / "outside/keep", "keep");
    writeText(dir / "tree/sub/file", "x");
    fs::create_symlink(dir / "outside", dir / "tree/sub/link");
    EXPECT_EQ(ops->removeTree(dir / "tree"), std::nullopt);
    EXPECT_EQ(names(), (std::vector<std::string>{"outside"}));
    EXPECT_EQ(readText(dir / "outside/keep"), "keep");
    fs::create_symlink(dir / "outside", dir / "toplink");
    ops->removeTree(dir / "toplink");
    EXPECT_EQ(readText(dir / "outside/keep"), "keep");
}

TEST_F(Operations, ProgramGetsEachArgumentAsOneEntry) {
    const std::vector<std::string> hostile = {
        "-n", "two words", "quote\"s'", "line\nbreak", "caf\xc3\xa9", "", "$(touch x)", "*"};
    std::vector<std::string> arguments = {"-c", "printf '%s\\0' \"$@\" > \"$0\"", dir / "record"};
    arguments.insert(arguments.end(), hostile.begin(), hostile.end());
    const ProgramRun run = ops->runProgram("/bin/sh", arguments, false);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(run.exitStatus, 0);
    std::string expected;
    for (const std::string& argument : hostile)
        expected += argument + '\0';
    EXPECT_EQ(readText(dir / "record"), expected);
    EXPECT_FALSE(fs::exists(dir / "x"));
}

struct StatusCase {
    const char* script;
    int32_t expected;
};
void PrintTo(const StatusCase& c, std::ostream* out) {
    *out << c.script;
}

class ProgramStatus : public Operations, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ProgramStatus, IsTheExitStatusOrTheSignalNumber) {
    const ProgramRun run = ops->runProgram("/bin/sh", {"-c", GetParam().script}, false);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitStatus, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ProgramStatus,
                         ::testing::Values(StatusCase{"exit 0", 0}, StatusCase{"exit 1", 1},
                                           StatusCase{"exit 255", 255}, StatusCase{"kill -9 $$", 9},
                                           StatusCase{"kill -15 $$", 15}));

TEST_F(Operations, MissingProgramIsNotStarted) {
    const ProgramRun run = ops->runProgram(dir / "no-such-program", {}, false);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.startError, "No such file or directory");
    writeText(dir / "not-executable", "#!/bin/sh\n");
    const ProgramRun denied = ops->runProgram(dir / "not-executable", {}, false);
    EXPECT_FALSE(denied.started);
    EXPECT_EQ(denied.startError, "Permission denied");
}

TEST_F(Operations, DurableWriteReplacesTheWholeFileAndLeavesNoTemporary) {
    writeText(dir / "update.log", "an older and much longer line\nsecond line\n");
    ASSERT_TRUE(ops->writeFileDurably(dir / "update.log", "one line\n"));
    EXPECT_EQ(readText(dir / "update.log"), "one line\n");
    EXPECT_EQ(names(), (std::vector<std::string>{"update.log"}));
}

TEST_F(Operations, DurableWriteIntoAMissingDirectoryCreatesNothing) {
    EXPECT_FALSE(ops->writeFileDurably(dir / "missing/update.log", "line\n"));
    EXPECT_TRUE(names().empty());
}

TEST_F(Operations, DurableWriteOverADirectoryFailsAndRemovesItsTemporary) {
    writeText(dir / "update.log/inside", "x");
    EXPECT_FALSE(ops->writeFileDurably(dir / "update.log", "line\n"));
    EXPECT_EQ(names(), (std::vector<std::string>{"update.log"}));
    EXPECT_EQ(readText(dir / "update.log/inside"), "x");
}

TEST_F(Operations, DurableWriteReplacesALinkWithoutWritingThroughIt) {
    writeText(dir / "elsewhere", "keep");
    fs::create_symlink(dir / "elsewhere", dir / "update.log");
    ASSERT_TRUE(ops->writeFileDurably(dir / "update.log", "line\n"));
    EXPECT_FALSE(fs::is_symlink(dir / "update.log"));
    EXPECT_EQ(readText(dir / "update.log"), "line\n");
    EXPECT_EQ(readText(dir / "elsewhere"), "keep");
}

TEST_F(Operations, ProcessExistsUntilItIsReaped) {
    EXPECT_TRUE(ops->processExists(getpid()));
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(ops->processExists(child));
}

TEST_F(Operations, ClockIsTheWallClock) {
    // Read between two readings of the system's wall clock (whole seconds, cut off).
    const time_t before = time(nullptr);
    const double now = ops->now();
    const time_t after = time(nullptr);
    EXPECT_GE(now, static_cast<double>(before));
    EXPECT_LT(now, static_cast<double>(after) + 1.0);
}

// Runs the check in a child process that has given up root (when the test is root), since root
// ignores the permission bits these cases are about; the tree and its folder are handed to that
// user first. True when the check returned true.
bool asOrdinaryUser(const std::string& tree, const std::function<bool()>& check) {
    if (geteuid() == 0) {
        const std::string parent = fs::path(tree).parent_path().string();
        if (lchown(parent.c_str(), 65534, 65534) != 0) return false;
        if (lchown(tree.c_str(), 65534, 65534) != 0) return false;
        for (const auto& entry : fs::recursive_directory_iterator(tree))
            if (lchown(entry.path().c_str(), 65534, 65534) != 0) return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A read-only folder, and one without any permission, once stopped the removal halfway.
TEST_F(OperationsAsOtherUser, RemoveTreeGetsThroughFoldersWithoutWritePermission) {
    writeText(dir / "tree/Contents/locked/deeper/file", "x");
    writeText(dir / "tree/Contents/closed/file", "y");
    writeText(dir / "tree/Contents/secret", "z");
    fs::permissions(dir / "tree/Contents/secret", fs::perms::none);
    fs::permissions(dir / "tree/Contents/locked/deeper", fs::perms(0555));
    fs::permissions(dir / "tree/Contents/locked", fs::perms(0555));
    fs::permissions(dir / "tree/Contents/closed", fs::perms::none);
    const std::string tree = dir / "tree";
    EXPECT_TRUE(asOrdinaryUser(tree, [&] { return ops->removeTree(tree) == std::nullopt; }));
    EXPECT_TRUE(names().empty());
}

// A read-only folder that belongs to someone else cannot be opened up: the failure names it.
TEST_F(OperationsAsOtherUser, RemoveTreeThatFailsSaysWhereAndWhy) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to another user";
    writeText(dir / "tree/foreign/file", "x");
    const std::string tree = dir / "tree";
    ASSERT_TRUE(asOrdinaryUser(tree, [] { return true; }));
    ASSERT_EQ(lchown((tree + "/foreign").c_str(), 0, 0), 0);
    fs::permissions(tree + "/foreign", fs::perms(0555));
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const std::optional<std::string> error = ops->removeTree(tree);
        _exit(error == "Could not remove \u201c" + tree + "/foreign\u201d: Operation not permitted"
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(tree + "/foreign/file"));
}

TEST_F(Operations, RemoveTreeOfNothingSucceeds) {
    EXPECT_EQ(ops->removeTree(dir / "nothing"), std::nullopt);
}

TEST_F(Operations, EntriesStartingWithMatchNamesInThePrefixsDirectory) {
    writeText(dir / "Orlavo.app.update-ready-12", "x");
    fs::create_symlink(dir / "nowhere", dir / "Orlavo.app.update-ready-34");
    writeText(dir / "Orlavo.app.update-new", "x");
    writeText(dir / "Other.app.update-ready-56", "x");
    std::vector<std::string> found = ops->entriesStartingWith(dir / "Orlavo.app.update-ready-");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{dir / "Orlavo.app.update-ready-12",
                                               dir / "Orlavo.app.update-ready-34"}));
    EXPECT_TRUE(ops->entriesStartingWith(dir / "missing/x").empty());
}

// The identity follows the entry through renames and exchanges, which the recovery relies on.
TEST_F(Operations, IdentityFollowsTheEntryThroughAnExchange) {
    writeText(dir / "a/marker", "a");
    writeText(dir / "b/marker", "b");
    const std::optional<std::string> a = ops->entryIdentity(dir / "a");
    const std::optional<std::string> b = ops->entryIdentity(dir / "b");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    ASSERT_EQ(ops->exchange(dir / "a", dir / "b").outcome, Exchange::Outcome::done);
    EXPECT_EQ(ops->entryIdentity(dir / "a"), b);
    EXPECT_EQ(ops->entryIdentity(dir / "b"), a);
    EXPECT_EQ(ops->entryIdentity(dir / "missing"), std::nullopt);
}

// The device and inode tell whether the target was replaced: they go with the entry through an
// exchange, belong to a link itself rather than what it leads to, and are nothing when missing.
TEST_F(Operations, DeviceAndInodeGoWithTheEntryNotTheName) {
    writeText(dir / "a/marker", "a");
    writeText(dir / "b/marker", "b");
    fs::create_symlink("a", dir / "link");
    const std::optional<DeviceAndInode> a = ops->entryDeviceAndInode(dir / "a");
    const std::optional<DeviceAndInode> b = ops->entryDeviceAndInode(dir / "b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->device, b->device);
    EXPECT_NE(a->inode, b->inode);
    EXPECT_EQ(std::to_string(a->inode), ops->entryIdentity(dir / "a"));
    EXPECT_NE(ops->entryDeviceAndInode(dir / "link"), a);
    ASSERT_EQ(ops->exchange(dir / "a", dir / "b").outcome, Exchange::Outcome::done);
    EXPECT_EQ(ops->entryDeviceAndInode(dir / "a"), b);
    EXPECT_EQ(ops->entryDeviceAndInode(dir / "b"), a);
    EXPECT_EQ(ops->entryDeviceAndInode(dir / "missing"), std::nullopt);
}

TEST_F(Operations, FlushFileSystemSucceedsOnATreeAndFailsOnNothing) {
    writeText(dir / "tree/file", "x");
    EXPECT_EQ(ops->flushFileSystem(dir / "tree"), std::nullopt);
    EXPECT_EQ(ops->flushFileSystem(dir / "missing"), "No such file or directory");
}

TEST_F(Operations, ResolvedPathFollowsLinksAndDots) {
    writeText(dir / "real/Contents/x", "x");
    fs::create_symlink("real", dir / "link");
    const std::string real = fs::canonical(dir / "real").string();
    EXPECT_EQ(ops->resolvedPath(dir / "link"), real);
    EXPECT_EQ(ops->resolvedPath(dir / "real/Contents/.."), real);
    EXPECT_EQ(ops->resolvedPath(dir / "missing"), std::nullopt);
}

} // namespace
