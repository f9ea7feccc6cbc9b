// The install procedure against fake operations at its edges: the staging folder that only one
// run can make, a target replaced by another run before the claim, the copy program's own error
// line, names with no room for the previous copy.
#include "fakes.h"
#include "update_assistant.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

const std::string target = "/apps/Orlavo.app";
const std::string source = "/dl/Orlavo.app";
const std::string logPath = "/logs/update.log";
const std::string staging = target + ".update-new";
const std::string previous = target + ".update-previous-1700000000";
const std::string needsRecovery = "write " + logPath + " A previous update needs recovery.\n";
const std::string copyFailed =
    "write " + logPath +
    " Update failed: The operation couldn\u2019t be completed. (OrlavoUpdater error 1.)";

class InstallEdge : public ::testing::Test {
  protected:
    Events events;
    FakeOperations operations{events};
    FakeMainLoop mainLoop{events};

    void SetUp() override { operations.paths = {source + "/Contents"}; }

    void launch() {
        UpdateAssistant assistant({"update-assistant", target, source, "0", logPath}, "/wd",
                                  std::make_unique<FakeCard>(events),
                                  {operations, mainLoop, {"/stub/copy", {"--"}, "/stub/open"}});
        assistant.applicationDidFinishLaunching();
    }
    // The events from the first that starts with the prefix up to the log line.
    Events from(const std::string& prefix) const {
        auto first = std::find_if(events.begin(), events.end(),
                                  [&](const std::string& e) { return e.starts_with(prefix); });
        auto log = std::find_if(first, events.end(),
                                [](const std::string& e) { return e.starts_with("write "); });
        return Events(first, log == events.end() ? log : log + 1);
    }
    bool any(const std::string& prefix) const {
        return std::any_of(events.begin(), events.end(),
                           [&](const std::string& e) { return e.starts_with(prefix); });
    }
};

// Another run made the staging folder between the test for leftovers and this run's claim.
TEST_F(InstallEdge, StagingFolderMadeByAnotherRunNeedsRecoveryAndNothingIsRemoved) {
    operations.creations = {{Creation::Outcome::exists, {}}};
    launch();
    EXPECT_EQ(from("create"), (Events{"create " + staging, needsRecovery}));
    EXPECT_FALSE(any("run") || any("remove"));
}

// Another run finished its copy and named it ready before this run's claim: this run's own
// empty folder is removed again, nothing else.
TEST_F(InstallEdge, ReadyCopyOfAnotherRunFoundAfterTheClaimNeedsRecovery) {
    operations.entriesOnCreate = {target + ".update-ready-99"};
    launch();
    EXPECT_EQ(from("create"),
              (Events{"create " + staging, "entry " + previous,
                      "entries " + target + ".update-ready-", "remove " + staging, needsRecovery}));
    EXPECT_FALSE(any("run"));
}

// Another run swapped its version in before this run's claim, in an earlier second, so that no
// ready or previous name of this run is there to tell: the target's device and inode differ from
// those found at start, and this run's own empty folder is removed again.
struct ReplacedTargetCase {
    const char* name;
    std::optional<DeviceAndInode> atClaim;
};
void PrintTo(const ReplacedTargetCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplacedTarget : public InstallEdge,
                       public ::testing::WithParamInterface<ReplacedTargetCase> {};

TEST_P(ReplacedTarget, NeedsRecoveryAndTheStagingFolderIsRemoved) {
    operations.places = {DeviceAndInode{1, 4242}, GetParam().atClaim};
    launch();
    EXPECT_EQ(
        from("create"),
        (Events{"create " + staging, "entry " + previous, "entries " + target + ".update-ready-",
                "device and inode " + target, "remove " + staging, needsRecovery}));
    EXPECT_FALSE(any("run"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplacedTarget,
    ::testing::Values(ReplacedTargetCase{"AnotherInode", DeviceAndInode{1, 4243}},
                      ReplacedTargetCase{"AnotherDevice", DeviceAndInode{2, 4242}},
                      ReplacedTargetCase{"GoneAtTheClaim", std::nullopt}),
    [](const ::testing::TestParamInfo<ReplacedTargetCase>& info) {
        return std::string(info.param.name);
    });

// A target missing at start has nothing to compare with: whatever stands there at the claim,
// the update goes ahead as before.
TEST_F(InstallEdge, TargetMissingAtStartIsNotComparedAtTheClaim) {
    operations.places = {std::nullopt, DeviceAndInode{1, 4243}};
    launch();
    EXPECT_EQ(std::count(events.begin(), events.end(), "device and inode " + target), 1);
    EXPECT_TRUE(events.at(events.size() - 3).starts_with("write " + logPath + " Update installed"));
}

TEST_F(InstallEdge, StagingFolderThatCannotBeMadeIsAFailureWithItsReason) {
    operations.creations = {{Creation::Outcome::failed, "Permission denied"}};
    launch();
    EXPECT_EQ(from("create"),
              (Events{"create " + staging, "write " + logPath +
                                               " Update failed: Could not create "
                                               "\u201c" +
                                               staging + "\u201d: Permission denied\n"}));
    EXPECT_FALSE(any("run") || any("remove"));
}

struct ErrorLineCase {
    const char* name;
    std::string given;    // what the copy program wrote first on standard error
    std::string appended; // what follows the description in the log ("" for nothing)
};
void PrintTo(const ErrorLineCase& c, std::ostream* out) {
    *out << c.name;
}

class CopyErrorLine : public InstallEdge, public ::testing::WithParamInterface<ErrorLineCase> {};

TEST_P(CopyErrorLine, FollowsTheDescriptionAsOneBoundedLine) {
    operations.runs = {{true, {}, 1, GetParam().given}};
    launch();
    EXPECT_EQ(from("run /stub/copy"),
              (Events{"run /stub/copy -- " + source + " " + staging + " (error line kept)",
                      "remove " + staging, copyFailed + GetParam().appended + "\n"}));
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

// "Orlavo.app" is 10 bytes and its previous copy's name 37: a folder allowing 36 refuses it.
TEST_F(InstallEdge, NameWithNoRoomForThePreviousCopyIsRefusedBeforeAnythingIsMade) {
    operations.nameLimit = 36;
    launch();
    EXPECT_EQ(from("name limit"),
              (Events{"name limit /apps",
                      "write " + logPath + " Update failed: Refusing to replace \u201c" + target +
                          "\u201d: its name is too long for the names placed beside it (10 bytes, "
                          "at most 9 here).\n"}));
    EXPECT_FALSE(any("create") || any("run"));
}

TEST_F(InstallEdge, NameThatJustFitsIsUpdated) {
    operations.nameLimit = 37;
    launch();
    EXPECT_TRUE(events.at(events.size() - 3).starts_with("write " + logPath + " Update installed"));
}

TEST_F(InstallEdge, UnknownNameLimitRefusesNothing) {
    operations.nameLimit = std::nullopt;
    launch();
    EXPECT_TRUE(events.at(events.size() - 3).starts_with("write " + logPath + " Update installed"));
}

} // namespace
