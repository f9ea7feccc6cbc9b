// What a child program receives from the system operations: /dev/null for its three standard
// streams, and the environment as it was when the operations were made, whatever the process
// changed afterwards.
#include "system_operations.h"
#include "temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        found.push_back(line);
    return found;
}

TEST(ChildIsolation, StandardStreamsAreTheNullDevice) {
    TempDir dir;
    const auto ops = makeSystemOperations();
    // The shell's own descriptors, read before anything of the script redirects them (Linux names
    // them in /proc); then it writes to both output streams, which must neither fail nor reach
    // the test's streams.
    const std::string script = "if [ -d /proc/$$/fd ]; then a=$(readlink /proc/$$/fd/0);"
                               " b=$(readlink /proc/$$/fd/1); c=$(readlink /proc/$$/fd/2);"
                               " printf '%s\\n' \"$a\" \"$b\" \"$c\" >\"$0\"; fi;"
                               " echo out && echo err >&2";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const ProgramRun run = ops->runProgram("/bin/sh", {"-c", script, dir / "streams"}, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(run.exitStatus, 0);
#ifdef __linux__
    EXPECT_EQ(lines(readText(dir / "streams")),
              (std::vector<std::string>{"/dev/null", "/dev/null", "/dev/null"}));
#endif
}

TEST(ChildIsolation, EnvironmentIsTheOneTheOperationsWereMadeWith) {
    TempDir dir;
    ASSERT_EQ(setenv("UPDATER_TEST_GIVEN", "given at start", 1), 0);
    ASSERT_EQ(unsetenv("UPDATER_TEST_LATE"), 0);
    const auto ops = makeSystemOperations();
    // What a toolkit does to its own process after start-up stays in the process.
    ASSERT_EQ(setenv("UPDATER_TEST_LATE", "set later", 1), 0);
    ASSERT_EQ(setenv("UPDATER_TEST_GIVEN", "changed later", 1), 0);
    const ProgramRun run =
        ops->runProgram("/bin/sh", {"-c", "env >\"$0\"", dir / "environment"}, false);
    unsetenv("UPDATER_TEST_LATE");
    unsetenv("UPDATER_TEST_GIVEN");
    ASSERT_TRUE(run.started) << run.startError;
    const std::vector<std::string> seen = lines(readText(dir / "environment"));
    EXPECT_NE(std::find(seen.begin(), seen.end(), "UPDATER_TEST_GIVEN=given at start"), seen.end());
    for (const std::string& line : seen)
        EXPECT_FALSE(line.starts_with("UPDATER_TEST_LATE=")) << line;
}

} // namespace
