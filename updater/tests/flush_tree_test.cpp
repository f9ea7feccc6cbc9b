// The flush of every entry of a copied bundle, as macOS's install uses it: whatever a bundle
// holds, the walk ends and flushes only what holds data.
#include "flush_tree_posix.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The walk's result in a child process, or -1 when it had not ended after a minute (a walk
// that waits on a fifo never does).
int flushInChild(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        _exit(flushEveryEntry(path.c_str()) & 0x7f);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void makeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

struct Odd {
    const char* name;
    void (*make)(const std::string& path);
};
void PrintTo(const Odd& odd, std::ostream* out) {
    *out << odd.name;
}

class FlushEveryEntry : public ::testing::TestWithParam<Odd> {
  protected:
    TempDir dir;
    std::string bundle = dir / "Orlavo.app";
    void SetUp() override {
        writeText(bundle + "/Contents/MacOS/Orlavo", "program");
        writeText(bundle + "/Contents/Info.plist", "plist");
    }
};

TEST_P(FlushEveryEntry, EndsAndSucceedsWithAnOddEntryInTheBundle) {
    const std::string odd = bundle + "/Contents/odd";
    GetParam().make(odd);
    ASSERT_TRUE(fs::exists(fs::symlink_status(odd)));
    EXPECT_EQ(flushInChild(bundle), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlushEveryEntry,
    ::testing::Values(
        Odd{"Fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        Odd{"Socket", makeSocket},
        Odd{"DanglingLink", [](const std::string& p) { fs::create_symlink("/nowhere", p); }},
        Odd{"LinkToAFifo",
            [](const std::string& p) {
                ASSERT_EQ(mkfifo((p + "-fifo").c_str(), 0644), 0);
                fs::create_symlink(p + "-fifo", p);
            }},
        Odd{"UnreadableFile",
            [](const std::string& p) {
                writeText(p, "secret");
                fs::permissions(p, fs::perms::none);
            }}),
    [](const ::testing::TestParamInfo<Odd>& info) { return std::string(info.param.name); });

TEST(FlushEveryEntryOf, AMissingTreeIsAnError) {
    TempDir dir;
    EXPECT_EQ(flushInChild(dir / "nothing"), ENOENT);
}

} // namespace
