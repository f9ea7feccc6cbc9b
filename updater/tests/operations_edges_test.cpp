// The POSIX operations the install relies on at its edges: the copy program's first error line,
// the staging folder only one caller can make, and log paths that are not regular files.
#include "system_operations.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class OperationsEdge : public ::testing::Test {
  protected:
    TempDir dir;
    std::unique_ptr<InstallOperations> ops = makeSystemOperations();
};

struct ErrorOutputCase {
    const char* name;
    std::string script;
    int32_t status;
    std::string line;
};
void PrintTo(const ErrorOutputCase& c, std::ostream* out) {
    *out << c.name;
}

class ErrorLine : public OperationsEdge, public ::testing::WithParamInterface<ErrorOutputCase> {};

TEST_P(ErrorLine, IsTheStartOfTheFirstLineAndTheRestIsReadAway) {
    const ProgramRun run = ops->runProgram("/bin/sh", {"-c", GetParam().script}, true);
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(run.exitStatus, GetParam().status);
    EXPECT_EQ(run.errorLine, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorLine,
    ::testing::Values(
        ErrorOutputCase{"Silent", "exit 1", 1, ""},
        ErrorOutputCase{"FirstOfTwoLines", "echo 'cp: first' >&2; echo second >&2; exit 1", 1,
                        "cp: first"},
        ErrorOutputCase{"StandardOutputIsNotRead", "echo out; echo err >&2", 0, "err"},
        // A megabyte on standard error would fill any pipe: it is read away, kept only in part.
        ErrorOutputCase{"AMegabyteWithoutALineFeed",
                        "head -c 1048576 /dev/zero | tr '\\0' x >&2; exit 3", 3,
                        std::string(1024, 'x')},
        // Something the program started keeps the pipe open: its end still ends the wait.
        ErrorOutputCase{"GrandchildHoldsThePipe", "sleep 30 & echo gone >&2; exit 4", 4, "gone"}),
    [](const ::testing::TestParamInfo<ErrorOutputCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(OperationsEdge, DirectoryIsCreatedByOneCallerOnly) {
    const std::string path = dir / "Orlavo.app.update-new";
    EXPECT_EQ(ops->createDirectory(path).outcome, Creation::Outcome::created);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(ops->createDirectory(path).outcome, Creation::Outcome::exists);
    // A dangling link at the name is never followed.
    fs::create_symlink(dir / "elsewhere", dir / "link.update-new");
    EXPECT_EQ(ops->createDirectory(dir / "link.update-new").outcome, Creation::Outcome::exists);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    const Creation missing = ops->createDirectory(dir / "no/such/folder");
    EXPECT_EQ(missing.outcome, Creation::Outcome::failed);
    EXPECT_EQ(missing.error, "No such file or directory");
}

TEST_F(OperationsEdge, EarlierContentIsDiscardedOnlyFromFilesAndLinks) {
    writeText(dir / "file.log", "Update installed; previous app preserved at /x\n");
    writeText(dir / "kept", "kept\n");
    fs::create_symlink(dir / "kept", dir / "link.log");
    ASSERT_EQ(mkfifo((dir / "fifo.log").c_str(), 0600), 0);
    for (const char* name : {"file.log", "link.log", "fifo.log", "missing.log"})
        ops->discardEarlierContent(dir / name);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "file.log")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link.log")));
    EXPECT_EQ(readText(dir / "kept"), "kept\n");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.log"));
}

TEST_F(OperationsEdge, FifoWithoutAReaderGetsNothingAndIsNeverReplaced) {
    ASSERT_EQ(mkfifo((dir / "update.log").c_str(), 0600), 0);
    EXPECT_FALSE(ops->writeFileDurably(dir / "update.log", "line\n"));
    EXPECT_TRUE(fs::is_fifo(dir / "update.log"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(OperationsEdge, LongestNameIsTheFileSystemsOwn) {
    EXPECT_EQ(ops->longestName(dir.path()),
              std::optional<std::size_t>(pathconf(dir.path().c_str(), _PC_NAME_MAX)));
    EXPECT_EQ(ops->longestName(dir / "missing"), std::nullopt);
}

} // namespace
