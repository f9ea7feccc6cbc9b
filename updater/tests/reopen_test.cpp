// The Linux reopen, end to end on a private X server (so the status card is up): the shipped
// assistant with its own launcher starting the new bundle's AppRun, the launcher's refusals, and
// child programs kept off the assistant's streams and the card's own environment.
#include "e2e_support.h"
#include "temp_dir.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Writes how it was started (session, working directory, streams, arguments, environment) to
// files in the test's directory, then stays until the test lets it go (or a minute has passed).
const char* recordingAppRun = R"script(#!/bin/sh
dir='@DIR@'
sid=$(cut -d' ' -f6 /proc/$$/stat)
in=$(readlink /proc/$$/fd/0); out=$(readlink /proc/$$/fd/1); err=$(readlink /proc/$$/fd/2)
env >"$dir/app.env"
ls -l /proc/$$/fd/ >"$dir/app.fds"
printf 'pid=%s\nsid=%s\ncwd=%s\nargs=%s\nstreams=%s %s %s\n' "$$" "$sid" "$(pwd)" "$#" \
    "$in" "$out" "$err" >"$dir/app.tmp"
mv "$dir/app.tmp" "$dir/app.started"
i=0
while [ ! -e "$dir/app.release" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i + 1)); done
)script";

std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

std::string exitError(int status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(status) + ".)";
}

void makeExecutable(const std::string& path, const std::string& text) {
    writeText(path, text);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// True once the process has ended (gone, or a zombie waiting for its new parent).
bool ended(const std::string& pid) {
    std::string stat; // read as a stream: /proc files tell no size
    std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
    const std::size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
}

struct Outcome {
    std::optional<int> status;
    std::string out, err;
};

class Reopen : public ::testing::Test {
  protected:
    TempDir dir;
    std::string apps = dir / "Applications";
    std::string target = apps + "/Orlavo.app";
    std::string source = dir / "Downloads/Orlavo.app";
    std::string log = dir / "update.log";
    std::map<std::string, std::string> variables;

    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        ASSERT_TRUE(display && *display) << "these runs need an X server (testing/with-display)";
        // Given to the assistant as the host would: the display, a variable of the host's own,
        // and nothing of the card's.
        variables = {{"DISPLAY", display},
                     {"STUB_RECORD_DIR", dir.path()},
                     {"UPDATER_TEST_FROM_HOST", "kept"}};
        unsetenv("GDK_GL");
        makeBundle(target, "1.0", 4096);
        makeBundle(source, "2.0", 8192);
        std::string script = recordingAppRun;
        script.replace(script.find("@DIR@"), 5, dir.path());
        makeExecutable(source + "/AppRun", script);
    }
    void TearDown() override {
        writeText(dir / "app.release", "");
        const std::string pid = keyValues(readText(dir / "app.started"))["pid"];
        for (int i = 0; !pid.empty() && !ended(pid) && i < 2000; ++i)
            usleep(5000);
    }

    // Runs the program with stdin from a file holding text and both output streams captured.
    Outcome run(const std::vector<std::string>& command, const std::string& cwd = "/") {
        writeText(dir / "stdin", "input meant for the assistant alone\n");
        std::vector<std::string> all = {
            "/bin/sh",
            "-c",
            "i=$1 o=$2 e=$3; shift 3; exec \"$@\" <\"$i\" >\"$o\" 2>\"$e\"",
            "sh",
            dir / "stdin",
            dir / "stdout",
            dir / "stderr"};
        all.insert(all.end(), command.begin(), command.end());
        Child child = Child::start(all, cwd, variables);
        Outcome outcome{child.wait(), "", ""};
        outcome.out = readText(dir / "stdout");
        outcome.err = readText(dir / "stderr");
        return outcome;
    }
    Outcome update(const std::string& program) { return run({program, target, source, "0", log}); }
    std::vector<std::string> previousCopies() const {
        return namesStartingWith(apps, "Orlavo.app.update-previous-");
    }
};

TEST_F(Reopen, ShippedLauncherStartsTheNewAppRunDetachedAndTheUpdateSucceeds) {
    // A descriptor the host left open for its children: the application must not hold it.
    const int held = ::open((dir / "held-by-host").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    const Outcome outcome = update(UPDATER_SHIPPED);
    ::close(held);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(previousCopies().size(), 1u);
    EXPECT_EQ(readText(log), "Update installed; previous app preserved at " + apps + "/" +
                                 previousCopies()[0] + "\n");
    // The assistant has ended while the application still runs: nothing waited for it.
    ASSERT_TRUE(fs::exists(dir / "app.started"));
    std::map<std::string, std::string> app = keyValues(readText(dir / "app.started"));
    EXPECT_FALSE(ended(app["pid"]));
    EXPECT_NE(app["sid"], std::to_string(getsid(0)));
    EXPECT_EQ(app["cwd"], "/");
    EXPECT_EQ(app["args"], "0");
    EXPECT_EQ(app["streams"], "/dev/null /dev/null /dev/null");
    EXPECT_EQ(readText(dir / "app.fds").find("held-by-host"), std::string::npos);
    const std::map<std::string, std::string> environment = keyValues(readText(dir / "app.env"));
    EXPECT_EQ(environment.count("GDK_GL"), 0u) << "the card's setting reached the application";
    EXPECT_EQ(environment.count("UPDATER_TEST_FROM_HOST"), 1u);
}

struct BrokenAppRun {
    const char* name;
    void (*make)(const std::string& bundle);
    int status;
};
void PrintTo(const BrokenAppRun& c, std::ostream* out) {
    *out << c.name;
}

class ReopenRefused : public Reopen, public ::testing::WithParamInterface<BrokenAppRun> {};

// The update stays installed; the log tells the launcher's status.
TEST_P(ReopenRefused, IsLoggedAsAFailureWithTheLaunchersStatus) {
    fs::remove(source + "/AppRun");
    GetParam().make(source);
    const std::string newDigest = treeDigest(source);
    const Outcome outcome = update(UPDATER_SHIPPED);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_EQ(readText(log), "Update failed: " + exitError(GetParam().status) + "\n");
    EXPECT_EQ(treeDigest(target), newDigest);
    EXPECT_EQ(previousCopies().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReopenRefused,
                         ::testing::Values(BrokenAppRun{"Missing", [](const std::string&) {}, 127},
                                           BrokenAppRun{"NotExecutable",
                                                        [](const std::string& bundle) {
                                                            writeText(bundle + "/AppRun",
                                                                      "#!/bin/sh\n");
                                                        },
                                                        126},
                                           BrokenAppRun{"MissingInterpreter",
                                                        [](const std::string& bundle) {
                                                            makeExecutable(
                                                                bundle + "/AppRun",
                                                                "#!/no/such/interpreter\n");
                                                        },
                                                        126}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LauncherCase {
    const char* name;
    std::vector<std::string> arguments; // "@" stands for the bundle's path
    void (*make)(const std::string& bundle);
    int status;
    const char* reason; // part of the one line on standard error
};
void PrintTo(const LauncherCase& c, std::ostream* out) {
    *out << c.name;
}

class Launcher : public Reopen, public ::testing::WithParamInterface<LauncherCase> {};

TEST_P(Launcher, RefusesWithOneLineSayingWhy) {
    const std::string bundle = dir / "Some.app";
    fs::create_directories(bundle + "/Contents");
    GetParam().make(bundle);
    std::vector<std::string> command = {UPDATER_OPEN_LAUNCHER};
    for (const std::string& argument : GetParam().arguments)
        command.push_back(argument == "@" ? bundle : argument);
    const Outcome outcome = run(command);
    EXPECT_EQ(outcome.status, GetParam().status);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("update-assistant-open: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(GetParam().reason), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Launcher,
    ::testing::Values(
        LauncherCase{"NoArgument", {}, [](const std::string&) {}, 2, "usage"},
        LauncherCase{"TwoArguments", {"@", "@"}, [](const std::string&) {}, 2, "usage"},
        LauncherCase{"NoAppRun", {"@"}, [](const std::string&) {}, 127, "no AppRun"},
        LauncherCase{
            "NoBundle", {"/no/such/Bundle.app"}, [](const std::string&) {}, 127, "no AppRun"},
        LauncherCase{"DanglingAppRun",
                     {"@"},
                     [](const std::string& b) { fs::create_symlink("gone", b + "/AppRun"); },
                     127,
                     "no AppRun"},
        LauncherCase{"NotExecutable",
                     {"@"},
                     [](const std::string& b) { writeText(b + "/AppRun", "#!/bin/sh\n"); },
                     126,
                     "is not executable"},
        LauncherCase{"Directory",
                     {"@"},
                     [](const std::string& b) { fs::create_directory(b + "/AppRun"); },
                     126,
                     "is not a file"},
        LauncherCase{
            "ExecFails",
            {"@"},
            [](const std::string& b) { makeExecutable(b + "/AppRun", "#!/no/such/interpreter\n"); },
            126,
            "cannot start"}),
    [](const auto& info) { return std::string(info.param.name); });

// A relative bundle is the working directory's, though the application starts in "/".
TEST_F(Reopen, LauncherTakesARelativeBundleAgainstItsWorkingDirectory) {
    const Outcome outcome = run({UPDATER_OPEN_LAUNCHER, "Orlavo.app/"}, dir / "Downloads");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    ASSERT_TRUE(waitForFile(dir / "app.started", 60));
    EXPECT_EQ(keyValues(readText(dir / "app.started"))["cwd"], "/");
}

// Child programs that write to both streams and read their input: the assistant's own streams
// stay empty, the input stays the assistant's, and neither sees the card's GDK_GL.
TEST_F(Reopen, ChildProgramsGetNullStreamsAndTheEnvironmentTheAssistantWasGiven) {
    const Outcome outcome = update(UPDATER_CHATTY);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(readText(log).rfind("Update installed; previous app preserved at ", 0), 0u);
    for (const std::string child : {"copy", "open"}) {
        SCOPED_TRACE(child);
        ASSERT_TRUE(fs::exists(dir / (child + ".env")));
        EXPECT_EQ(readText(dir / (child + ".stdin")), "");
        const std::map<std::string, std::string> environment =
            keyValues(readText(dir / (child + ".env")));
        EXPECT_EQ(environment.count("GDK_GL"), 0u);
        EXPECT_EQ(environment.count("UPDATER_TEST_FROM_HOST"), 1u);
    }
}

} // namespace
