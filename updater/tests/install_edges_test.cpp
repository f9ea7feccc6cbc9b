// The install procedure on a fake file system at its edges: every refusal before the copy (the
// host that stays, a missing bundle, leftovers, the staging folder that only one run can make, a
// target replaced by another run, names with no room), targets that hold the user's folders,
// and the copy program's own error line.
#include "arguments.h"
#include "install_run.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace install_run;

const std::string needsRecovery = "A previous update needs recovery.";
const std::string bundleMissing = "Verified update bundle is missing.";

struct Refusal {
    const char* name;
    std::function<void(FakeOperations&)> arrange;
    std::string log; // the line without its line feed
    Names beside;    // what stands beside the target afterwards
    std::string parentID = "0";
};
void PrintTo(const Refusal& c, std::ostream* out) {
    *out << c.name;
}

class InstallRefusal : public InstallRun, public ::testing::WithParamInterface<Refusal> {};

TEST_P(InstallRefusal, CopiesNothingAndSaysWhy) {
    const Refusal& c = GetParam();
    c.arrange(operations);
    launch(c.parentID);
    EXPECT_EQ(logLine(), c.log + "\n");
    EXPECT_EQ(beside(), c.beside);
    EXPECT_FALSE(copyStarted());
    EXPECT_TRUE(operations.opened.empty());
    EXPECT_EQ(screen.texts, (std::vector<Screen::Texts>{failedTexts}));
    EXPECT_EQ(screen.terminations, (std::vector<double>{6.0}));
}

const auto withoutContents = [](FakeOperations& o) { o.erase(source + "/Contents"); };
// Another run's doing at the moment this run claims the staging folder.
const auto atTheClaim = [](std::function<void(FakeOperations&)> other) {
    return [other](FakeOperations& o) { o.onCreate = other; };
};
const auto replaceTarget = [](FakeOperations& o) {
    o.erase(target);
    o.bundle(target, "v3");
};

INSTANTIATE_TEST_SUITE_P(
    Table, InstallRefusal,
    ::testing::Values(
        // Waiting comes first: a host that stays wins over a missing bundle.
        Refusal{"HostThatStays",
                [](FakeOperations& o) {
                    o.aliveProbes = -1;
                    o.erase(source + "/Contents");
                },
                "Orlavo did not quit; update cancelled.", untouched, "4242"},
        Refusal{"BundleWithoutContents", withoutContents, bundleMissing, untouched},
        // The source test comes before the leftover test.
        Refusal{"MissingBundleAndALeftover",
                [](FakeOperations& o) {
                    o.erase(source + "/Contents");
                    o.folder(staging);
                },
                bundleMissing,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-new", "(empty)"}}},
        Refusal{"SourceIsADanglingLink",
                [](FakeOperations& o) {
                    o.erase(source);
                    o.link(source, "/nowhere/Orlavo.app");
                },
                bundleMissing, untouched},
        Refusal{"StagingLeftover",
                [](FakeOperations& o) { o.bundle(staging, "v2"); },
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-new", "v2"}}},
        // Names are tested without following links: the copy never writes through one.
        Refusal{"StagingLeftoverAsADanglingLink",
                [](FakeOperations& o) { o.link(staging, "/nowhere"); },
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-new", "-> /nowhere"}}},
        Refusal{"PreviousCopyOfThisSecond",
                [](FakeOperations& o) { o.bundle(previous, "v0"); },
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-previous-1700000000", "v0"}}},
        Refusal{"ReadyCopyOfAnyIdentity",
                [](FakeOperations& o) { o.bundle(target + ".update-ready-12345", "v2"); },
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-ready-12345", "v2"}}},
        // Another run made the staging folder after the leftover test: it stays theirs.
        Refusal{"StagingFolderMadeByAnotherRun",
                atTheClaim([](FakeOperations& o) { o.folder(staging); }),
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-new", "(empty)"}}},
        // Another run named its copy ready just before this run's claim: this run's own empty
        // folder is removed again, nothing else.
        Refusal{"ReadyCopyOfAnotherRunAtTheClaim",
                atTheClaim([](FakeOperations& o) { o.bundle(target + ".update-ready-99", "v2"); }),
                needsRecovery,
                {{"Orlavo.app", "v1"}, {"Orlavo.app.update-ready-99", "v2"}}},
        // Another run swapped its version in, in an earlier second, so no name of this run's
        // tells: the target's device and inode differ from those found at start.
        Refusal{"TargetReplacedAtTheClaim",
                atTheClaim(replaceTarget),
                needsRecovery,
                {{"Orlavo.app", "v3"}}},
        Refusal{"TargetOnAnotherDeviceAtTheClaim",
                atTheClaim([](FakeOperations& o) { o.tree.at(target).place.device = 2; }),
                needsRecovery, untouched},
        Refusal{"TargetGoneAtTheClaim",
                atTheClaim([](FakeOperations& o) { o.erase(target); }),
                needsRecovery,
                {}},
        // The target's place is taken before the wait, however long the host takes.
        Refusal{"TargetReplacedWhileWaiting",
                [](FakeOperations& o) {
                    o.aliveProbes = 3;
                    o.onProbe = [](FakeOperations& at) {
                        if (at.probes == 2) replaceTarget(at);
                    };
                },
                needsRecovery,
                {{"Orlavo.app", "v3"}},
                "4242"},
        Refusal{"StagingFolderThatCannotBeMade",
                [](FakeOperations& o) { o.createFault = "Permission denied"; },
                "Update failed: Could not create " + q(staging) + ": Permission denied", untouched},
        // "Orlavo.app" is 10 bytes and its previous copy's name 37: a folder allowing 36.
        Refusal{"NameWithNoRoomForThePreviousCopy", [](FakeOperations& o) { o.nameLimit = 36; },
                "Update failed: Refusing to replace " + q(target) +
                    ": its name is too long for the names placed beside it (10 bytes, at most 9 "
                    "here).",
                untouched}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

struct TargetCase {
    const char* name;
    std::string target; // the argument as given
    std::string workingDirectory;
    std::string refusal; // "" when the update goes ahead
    std::function<void(FakeOperations&)> arrange = [](FakeOperations&) {};
};
void PrintTo(const TargetCase& c, std::ostream* out) {
    *out << c.name;
}

class TargetRefusal : public InstallRun, public ::testing::WithParamInterface<TargetCase> {};

// A target that goes ahead is made a bundle of its own first.
TEST_P(TargetRefusal, NeverMovesAsideWhatHoldsTheUsersFolders) {
    const TargetCase& c = GetParam();
    c.arrange(operations);
    const std::string path = fileURLPath(c.target, c.workingDirectory);
    if (c.refusal.empty()) operations.bundle(path, "v1");
    const auto before = operations.tree;
    launch("0", c.target, c.workingDirectory);
    if (c.refusal.empty()) {
        EXPECT_EQ(logLine(), "Update installed; previous app preserved at " + path +
                                 ".update-previous-1700000000\n");
        EXPECT_EQ(operations.summary(path), "v2");
        return;
    }
    EXPECT_EQ(logLine(), "Update failed: Refusing to replace " + q(path) + ": " + c.refusal + "\n");
    EXPECT_FALSE(copyStarted());
    auto expected = before; // all but the log as it was
    expected.erase(logPath);
    operations.erase(logPath);
    EXPECT_EQ(operations.tree, expected);
}

const std::string workingDirectory = "it is the working directory.";

INSTANTIATE_TEST_SUITE_P(
    Table, TargetRefusal,
    ::testing::Values(TargetCase{"Empty", "", "/wd", workingDirectory},
                      TargetCase{"Dot", ".", "/wd", workingDirectory},
                      TargetCase{"DotSlash", "./", "/wd", workingDirectory},
                      TargetCase{"Root", "/", "/wd", "it is the root folder."},
                      TargetCase{"RootByDotDot", "../..", "/wd/a", "it is the root folder."},
                      TargetCase{"Parent", "..", "/wd/a", "it holds the working directory."},
                      TargetCase{"Home", "/home/user", "/wd", "it is the home folder."},
                      TargetCase{"HomeWithDot", "/home/user/.", "/wd", "it is the home folder."},
                      TargetCase{"HomeParent", "/home", "/wd", "it holds the home folder."},
                      // A link that leads to the home folder is refused as the home folder itself.
                      TargetCase{"LinkToHome", target, "/wd", "it is the home folder.",
                                 [](FakeOperations& o) {
                                     o.erase(target);
                                     o.link(target, "/home/user");
                                 }},
                      TargetCase{"WorkingDirectoryThroughALink", "/data/wd", "/wd",
                                 workingDirectory,
                                 [](FakeOperations& o) {
                                     o.erase("/wd");
                                     o.folder("/data");
                                     o.folder("/data/wd");
                                     o.link("/wd", "/data/wd");
                                 }},
                      TargetCase{"BundleInsideHome", "/home/user/Applications/Orlavo.app", "/wd",
                                 "",
                                 [](FakeOperations& o) { o.folder("/home/user/Applications"); }},
                      TargetCase{"BundleNamedLikeHome", "/home/user2", "/wd", ""},
                      TargetCase{"BundleInTheWorkingDirectory", "Orlavo.app", "/wd", ""}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

struct ErrorLineCase {
    const char* name;
    std::string given;    // what the copy program wrote first on standard error
    std::string appended; // what follows the description in the log ("" for nothing)
};
void PrintTo(const ErrorLineCase& c, std::ostream* out) {
    *out << c.name;
}

class CopyErrorLine : public InstallRun, public ::testing::WithParamInterface<ErrorLineCase> {};

TEST_P(CopyErrorLine, FollowsTheDescriptionAsOneBoundedLine) {
    operations.copyRuns = {{true, {}, 1, GetParam().given}};
    launch();
    EXPECT_EQ(logLine(), "Update failed: " + exitError(1) + GetParam().appended + "\n");
}

const std::string twoHundred(200, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, CopyErrorLine,
    ::testing::Values(ErrorLineCase{"Nothing", "", ""},
                      ErrorLineCase{"FullDisk", "cp: error writing 'a': No space left on device",
                                    "; cp: error writing 'a': No space left on device"},
                      ErrorLineCase{"ExactlyTheLimit", twoHundred, "; " + twoHundred},
                      ErrorLineCase{"LongerThanTheLimit", twoHundred + "yz", "; " + twoHundred},
                      // A two-byte character across the limit is left out whole.
                      ErrorLineCase{"CharacterAcrossTheLimit", std::string(199, 'x') + "\u00e9z",
                                    "; " + std::string(199, 'x')},
                      ErrorLineCase{"CharacterEndingAtTheLimit", std::string(198, 'x') + "\u00e9z",
                                    "; " + std::string(198, 'x') + "\u00e9"},
                      ErrorLineCase{"ControlCharactersAndCarriageReturn", "cp:\ta\x1b[0m\r",
                                    "; cp: a [0m"}),
    [](const ::testing::TestParamInfo<ErrorLineCase>& info) {
        return std::string(info.param.name);
    });

} // namespace
