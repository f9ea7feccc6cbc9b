// The built program against hostile arguments and real trees: targets that are or hold the
// user's folders, an absolute target ending in "/.", a linked source, a copy with a read-only
// folder to clean up, stale temporary logs, and a real installed application tree compared
// entry by entry.
#include "e2e_support.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

class Paths : public ::testing::Test {
  protected:
    explicit Paths(Reach reach = Reach::owner) : dir(reach) {}

    TempDir dir;
    std::string apps = dir / "Applications";
    std::string target = apps + "/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string log = dir / "logs/update.log";
    std::string oldDigest, newDigest;
    std::map<std::string, std::string> variables;

    void SetUp() override {
        makeBundle(target, "1.0", 64 * 1024);
        makeBundle(source, "2.0", 96 * 1024, 6);
        fs::create_directories(dir / "logs");
        oldDigest = treeDigest(target);
        newDigest = treeDigest(source);
    }

    int run(const std::vector<std::string>& args, const std::string& cwd = "/",
            bool unprivileged = false) {
        std::vector<std::string> all = {UPDATER_STUBBED};
        all.insert(all.end(), args.begin(), args.end());
        Child child = Child::start(all, cwd, variables, unprivileged);
        const std::optional<int> status = child.wait();
        EXPECT_TRUE(status.has_value()) << "the program did not end";
        return status.value_or(-1);
    }
    std::vector<std::string> previousCopies() const {
        return namesStartingWith(apps, "Orlavo.app.update-previous-");
    }
};

// Cases that run the program as user 65534, in a folder that user can reach.
class PathsAsOtherUser : public Paths {
  protected:
    PathsAsOtherUser() : Paths(Reach::otherUsers) {}
    void SetUp() override {
        if (!unprivilegedCanRun(UPDATER_STUBBED))
            GTEST_SKIP() << "user 65534 cannot reach " << UPDATER_STUBBED
                         << ": a folder above the build is closed to other users";
        if (!dir.reachableByOtherUsers())
            GTEST_SKIP() << "no temporary folder here is open to user 65534";
        Paths::SetUp();
    }
};

struct HostileTarget {
    const char* name;
    std::string argument; // relative arguments are taken in dir/home/work
    std::string refused;  // the path named in the log, relative to dir
    std::string reason;
};
void PrintTo(const HostileTarget& c, std::ostream* out) {
    *out << c.name;
}

class HostileTargets : public PathsAsOtherUser,
                       public ::testing::WithParamInterface<HostileTarget> {};

// Run as an ordinary user, as a host would start it: before the refusal existed, "" and "."
// swapped the working directory itself and reported success.
TEST_P(HostileTargets, AreRefusedWithAFailureLogAndNothingMoves) {
    const HostileTarget& c = GetParam();
    const std::string home = dir / "home";
    const std::string work = home + "/work";
    writeText(work + "/notes.txt", "the user's own work\n");
    writeText(home + "/.profile", "# settings\n");
    handToUnprivilegedUser(dir.path());
    variables["HOME"] = home;
    const std::string before = treeDigest(dir.path());
    std::string argument = c.argument;
    if (argument.starts_with("DIR/")) argument = dir.path() + argument.substr(3);

    EXPECT_EQ(run({argument, source, "0", log}, work, true), 0);
    const std::string refused = c.refused == "/" ? "/" : dir.path() + c.refused;
    EXPECT_EQ(readText(log),
              "Update failed: Refusing to replace " + q(refused) + ": " + c.reason + "\n");
    fs::remove(log);
    fs::remove_all(home + "/.cache"); // the toolkit's own cache, made even without a display
    EXPECT_EQ(treeDigest(dir.path()), before);
    EXPECT_FALSE(fs::exists("/.update-new"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileTargets,
    ::testing::Values(
        HostileTarget{"Empty", "", "/home/work", "it is the working directory."},
        HostileTarget{"Dot", ".", "/home/work", "it is the working directory."},
        HostileTarget{"DotSlashDot", "././", "/home/work", "it is the working directory."},
        HostileTarget{"Parent", "..", "/home", "it is the home folder."},
        HostileTarget{"HomeAbsolute", "DIR/home", "/home", "it is the home folder."},
        HostileTarget{"HomeWithSlashDot", "DIR/home/.", "/home", "it is the home folder."},
        HostileTarget{"AboveHome", "DIR/", "", "it holds the working directory."},
        HostileTarget{"Root", "/", "/", "it is the root folder."}),
    [](const ::testing::TestParamInfo<HostileTarget>& info) {
        return std::string(info.param.name);
    });

// "/." once put the staging copy inside the installed bundle; now it names the bundle itself.
TEST_F(Paths, AbsoluteTargetEndingInSlashDotIsTheBundleItself) {
    EXPECT_EQ(run({target + "/.", source, "0", log}), 0);
    ASSERT_EQ(previousCopies().size(), 1u);
    const std::string previous = apps + "/" + previousCopies().front();
    EXPECT_EQ(readText(log), "Update installed; previous app preserved at " + previous + "\n");
    EXPECT_EQ(treeDigest(target), newDigest);
    EXPECT_EQ(treeDigest(previous), oldDigest);
    EXPECT_EQ(listNames(apps).size(), 2u);
}

// The test for Contents followed the link while the copy copied the link itself: the app was
// replaced by a dangling link and the log said success.
TEST_F(Paths, LinkedSourceInstallsTheTreeItLeadsTo) {
    const std::string versioned = dir / "Downloads/Orlavo-2.0.app";
    fs::rename(source, versioned);
    fs::create_symlink("Orlavo-2.0.app", source);
    EXPECT_EQ(run({target, source, "0", log}), 0);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u);
    EXPECT_FALSE(fs::is_symlink(target));
    EXPECT_EQ(treeDigest(target), newDigest);
    EXPECT_TRUE(fs::is_symlink(source));
}

TEST_F(Paths, LinkedSourceThatLeadsNowhereIsMissing) {
    fs::remove_all(source);
    fs::create_symlink("nowhere.app", source);
    EXPECT_EQ(run({target, source, "0", log}), 0);
    EXPECT_EQ(readText(log), "Verified update bundle is missing.\n");
    EXPECT_EQ(treeDigest(target), oldDigest);
    EXPECT_EQ(listNames(apps), (std::vector<std::string>{"Orlavo.app"}));
}

// Run as an ordinary user: a read-only folder in the copy once stopped its removal, and every
// later update then stopped at "A previous update needs recovery.".
TEST_F(PathsAsOtherUser, CopyWithAReadOnlyFolderIsRemovedAndTheNextUpdateGoesAhead) {
    writeText(source + "/Contents/Resources/locked/inside.txt", "kept read-only\n");
    fs::permissions(source + "/Contents/Resources/locked", fs::perms(0555));
    newDigest = treeDigest(source);
    fs::remove_all(target); // the swap fails, so the copy has to go
    handToUnprivilegedUser(dir.path());

    EXPECT_EQ(run({target, source, "0", log}, "/", true), 0);
    EXPECT_EQ(readText(log).rfind("Update failed: Could not exchange ", 0), 0u) << readText(log);
    EXPECT_EQ(readText(log).find("could not be removed"), std::string::npos) << readText(log);
    EXPECT_TRUE(listNames(apps).empty());

    makeBundle(target, "1.0", 64 * 1024);
    handToUnprivilegedUser(dir.path());
    EXPECT_EQ(run({target, source, "0", log}, "/", true), 0);
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u)
        << readText(log);
    EXPECT_EQ(treeDigest(target), newDigest);
}

// A kill inside the log write leaves its temporary file; the next run removes those whose
// writer is gone, and nothing else.
TEST_F(Paths, StaleTemporaryLogsAreRemovedAtTheNextRun) {
    const std::string logs = dir / "logs";
    const std::string live = ".update.log.tmp-" + std::to_string(getpid()) + "-7";
    for (const std::string& name : std::vector<std::string>{
             ".update.log.tmp-999999999-5", ".update.log.tmp-123456", live, ".update.log.tmp-x",
             ".other.log.tmp-999999999-5", "update.log.tmp-999999999-5"})
        writeText(logs + "/" + name, "partial");
    EXPECT_EQ(run({target, source, "0", log}), 0);
    EXPECT_EQ(listNames(logs),
              (std::vector<std::string>{".other.log.tmp-999999999-5", live, ".update.log.tmp-x",
                                        "update.log", "update.log.tmp-999999999-5"}));
}

// A real installed application tree (git's helper programs: executables, scripts and many
// symbolic links), made into a bundle with hard links, a fifo, a mode-000 file and a read-only
// folder added, is installed entry for entry.
TEST_F(Paths, RealApplicationTreeIsInstalledEntryForEntry) {
    const std::string real = "/usr/lib/git-core";
    if (!fs::is_directory(real)) GTEST_SKIP() << real << " is not installed";
    fs::remove_all(source);
    fs::create_directories(source + "/Contents");
    Child copy = Child::start({"/bin/cp", "-a", real, source + "/Contents/MacOS"}, "/");
    ASSERT_EQ(copy.wait(), 0);
    fs::create_hard_link(source + "/Contents/MacOS/git-sh-setup",
                         source + "/Contents/MacOS/git-sh-setup.hardlink");
    ASSERT_EQ(mkfifo((source + "/Contents/control.fifo").c_str(), 0600), 0);
    writeText(source + "/Contents/Resources/secret", "mode 000\n");
    fs::permissions(source + "/Contents/Resources/secret", fs::perms::none);
    writeText(source + "/Contents/Resources/readonly/a.txt", "a\n");
    fs::permissions(source + "/Contents/Resources/readonly", fs::perms(0555));
    const std::string newManifest = treeManifest(source);
    ASSERT_NE(newManifest.find(" link "), std::string::npos);
    ASSERT_NE(newManifest.find(" linked-with "), std::string::npos);
    const std::string oldManifest = treeManifest(target);

    EXPECT_EQ(run({target, source, "0", log}), 0);
    if (!runningAsRoot()) {
        // An ordinary user cannot read the mode-000 file: the copy fails and is cleaned up.
        EXPECT_EQ(readText(log).rfind("Update failed: ", 0), 0u);
        EXPECT_EQ(treeManifest(target), oldManifest);
        EXPECT_EQ(listNames(apps), (std::vector<std::string>{"Orlavo.app"}));
        return;
    }
    ASSERT_EQ(previousCopies().size(), 1u) << readText(log);
    EXPECT_EQ(treeManifest(target), newManifest);
    EXPECT_EQ(treeManifest(apps + "/" + previousCopies().front()), oldManifest);
    EXPECT_EQ(listNames(apps).size(), 2u);
}

} // namespace
