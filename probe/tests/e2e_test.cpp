// selection-probe against a real GTK window over the private X server and session bus that
// testing/with-display provides. Each test starts its own window and ends it.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid = -1;
    int input = -1;  // its standard input, kept open while it should live
    int output = -1; // its standard output
};

// Starts a program with piped standard input and output; `environment` entries "NAME=value"
// are set and "NAME" alone is unset in the child.
Child spawn(std::vector<std::string> argv, const std::vector<std::string>& environment = {}) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (const std::string& entry : environment) {
            auto equals = entry.find('=');
            if (equals == std::string::npos) {
                unsetenv(entry.c_str());
            } else {
                setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
            }
        }
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    return {pid, in[1], out[0]};
}

// Reads until the child closes its output or the time is up.
std::string readAll(int fd, std::chrono::milliseconds limit) {
    std::string text;
    auto end = Clock::now() + limit;
    char buffer[4096];
    while (Clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (poll(&ready, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool waitForLine(int fd, const std::string& line, std::chrono::milliseconds limit) {
    std::string seen;
    auto end = Clock::now() + limit;
    char c;
    while (Clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        if (read(fd, &c, 1) != 1) return false;
        if (c != '\n') {
            seen.push_back(c);
        } else if (seen == line) {
            return true;
        } else {
            seen.clear();
        }
    }
    return false;
}

// Waits for the child, ending it if it overstays; returns its exit status or -1.
int finish(Child& child, std::chrono::milliseconds limit) {
    if (child.input >= 0) close(child.input);
    if (child.output >= 0) close(child.output);
    child.input = child.output = -1;
    int status = 0;
    auto end = Clock::now() + limit;
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ProbeRun {
    int status = -1;
    std::string json;
};

ProbeRun runProbe(const std::vector<std::string>& environment = {}) {
    Child probe = spawn({PROBE_PATH}, environment);
    ProbeRun run;
    run.json = readAll(probe.output, std::chrono::seconds(60));
    run.status = finish(probe, std::chrono::seconds(60));
    return run;
}

// One test window; ended by closing its standard input, then by SIGTERM.
class TextApp {
  public:
    explicit TextApp(std::vector<std::string> options) {
        options.insert(options.begin(), TEXT_APP_PATH);
        child_ = spawn(options);
        ready_ = child_.pid > 0 && waitForLine(child_.output, "ready", std::chrono::seconds(60));
    }
    ~TextApp() {
        kill(child_.pid, SIGCONT);
        close(child_.input);
        child_.input = -1;
        if (finish(child_, std::chrono::seconds(60)) != 0) ADD_FAILURE() << "window did not quit";
    }
    bool ready() const { return ready_; }
    pid_t pid() const { return child_.pid; }

  private:
    Child child_;
    bool ready_ = false;
};

// The window registers with the accessibility registry just after it shows; ask until the
// probe sees its selection, for a minute at most (a loaded machine can take that long).
Json probeSelectionOf(const TextApp& app) {
    Json last;
    for (int attempt = 0; attempt < 600 && app.ready(); ++attempt) {
        ProbeRun run = runProbe();
        EXPECT_EQ(run.status, 0);
        last = Json::parse(run.json, nullptr, false);
        if (last.is_object() && last.contains("selectedLength")) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return last;
}

bool hasBox(const Json& out) {
    return out.contains("x") && out.contains("y") && out.contains("width") &&
           out.contains("height");
}

// The box lies on the 1440x900 screen, to the right of and below the window's corner (100, 80).
void expectInWindow(const Json& out) {
    ASSERT_TRUE(hasBox(out)) << out;
    EXPECT_GE(out["x"].get<double>(), 100);
    EXPECT_GE(out["y"].get<double>(), 80);
    EXPECT_LE(out["x"].get<double>() + out["width"].get<double>(), 1440);
    EXPECT_LE(out["y"].get<double>() + out["height"].get<double>(), 900);
}

TEST(ProbeEndToEnd, ShortSelectionInAnEntry) {
    TextApp app({"--text", "Hello world", "--start", "6", "--end", "11"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["trusted"], true);
    EXPECT_EQ(out["selectedLength"], 5);
    EXPECT_EQ(out["text"], "world");
    expectInWindow(out);
    EXPECT_GT(out["width"].get<double>(), 0);
    EXPECT_GT(out["height"].get<double>(), 0);
    EXPECT_GT(out["x"].get<double>(), 100) << "the box starts after \"Hello \"";
}

TEST(ProbeEndToEnd, MultiLineSelectionInATextView) {
    const std::string text = "first line\nsecond line\nthird line";
    double oneLine = 0;
    {
        TextApp app({"--view", "text", "--text", text, "--start", "0", "--end", "5"});
        ASSERT_TRUE(app.ready());
        Json out = probeSelectionOf(app);
        ASSERT_TRUE(hasBox(out)) << out;
        oneLine = out["height"].get<double>();
    }
    TextApp app({"--view", "text", "--text", text, "--start", "6", "--end", "28"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["selectedLength"], 22);
    EXPECT_EQ(out["text"], "line\nsecond line\nthird");
    expectInWindow(out);
    EXPECT_GE(out["height"].get<double>(), 2.5 * oneLine) << "three lines high";
}

TEST(ProbeEndToEnd, EmojiCountsTwoUtf16Units) {
    TextApp app({"--text",
                 "a\xF0\x9F\x98\x80"
                 "b",
                 "--start", "0", "--end", "3"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["selectedLength"], 4);
    EXPECT_EQ(out["text"], "a\xF0\x9F\x98\x80"
                           "b");
    expectInWindow(out);
}

TEST(ProbeEndToEnd, LongSelectionGivesThePrefixAndItsBounds) {
    TextApp app({"--view", "text", "--text", "abcdefghi ", "--repeat", "400", "--end", "-1"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["selectedLength"], 4000);
    std::string prefix;
    for (int i = 0; i < 135; ++i)
        prefix += "abcdefghi ";
    EXPECT_EQ(out["text"], prefix);
    expectInWindow(out);
}

TEST(ProbeEndToEnd, LongSelectionCutThroughAnEmojiEndsInAReplacement) {
    std::string text = std::string(1349, 'x') + "\xF0\x9F\x98\x80" + std::string(3000, 'y');
    TextApp app({"--view", "text", "--text", text, "--end", "-1"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["selectedLength"], 4351) << "the emoji counts two UTF-16 units";
    EXPECT_EQ(out["text"], std::string(1349, 'x') + "\xEF\xBF\xBD");
}

TEST(ProbeEndToEnd, CaretGivesTheElementBox) {
    TextApp app({"--text", "Hello", "--start", "2", "--end", "2"});
    ASSERT_TRUE(app.ready());
    Json out = probeSelectionOf(app);
    EXPECT_EQ(out["selectedLength"], 0);
    EXPECT_FALSE(out.contains("text"));
    // The entry fills the window's width at its top, and is taller than 22 pixels.
    EXPECT_EQ(out["x"], 100);
    EXPECT_EQ(out["y"], 80);
    EXPECT_EQ(out["width"], 48);
    EXPECT_EQ(out["height"], 22);
}

TEST(ProbeEndToEnd, FrozenApplicationDoesNotHoldTheProbe) {
    TextApp app({"--text", "Hello", "--start", "0", "--end", "5"});
    ASSERT_TRUE(app.ready());
    ASSERT_TRUE(probeSelectionOf(app).contains("selectedLength"));
    kill(app.pid(), SIGSTOP);
    ProbeRun run = runProbe();
    kill(app.pid(), SIGCONT);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.json, R"({"trusted":true})");
}

TEST(ProbeEndToEnd, StoppedBackgroundApplicationsDoNotHideTheFocusedOne) {
    std::vector<std::unique_ptr<TextApp>> background;
    for (int i = 0; i < 4; ++i) {
        background.push_back(std::make_unique<TextApp>(
            std::vector<std::string>{"--text", "background " + std::to_string(i), "--end", "-1",
                                     "--left", std::to_string(200 + 40 * i)}));
        ASSERT_TRUE(background.back()->ready());
    }
    // Started last, it takes the keyboard focus from the others.
    TextApp focused({"--text", "Hello world", "--start", "6", "--end", "11"});
    ASSERT_TRUE(focused.ready());
    ASSERT_EQ(probeSelectionOf(focused)["text"], "world");
    for (auto& app : background)
        kill(app->pid(), SIGSTOP);
    // With the display the window's process names the application; without it every
    // application's frames are asked at once, the stopped ones until their calls time out.
    std::vector<ProbeRun> runs;
    for (const char* unset : {"AT_SPI_BUS_ADDRESS", "DISPLAY"}) {
        auto started = Clock::now();
        runs.push_back(runProbe({unset}));
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        RecordProperty(std::string("probe_ms_without_") + unset, static_cast<int>(took.count()));
    }
    for (auto& app : background)
        kill(app->pid(), SIGCONT);
    for (const ProbeRun& run : runs) {
        EXPECT_EQ(run.status, 0);
        Json out = Json::parse(run.json, nullptr, false);
        EXPECT_EQ(out["text"], "world") << run.json;
        EXPECT_EQ(out["selectedLength"], 5);
        expectInWindow(out);
    }
}

TEST(ProbeEndToEnd, PasswordFieldGivesNeitherTextNorLength) {
    TextApp app({"--text", "secret", "--start", "0", "--end", "6", "--password"});
    ASSERT_TRUE(app.ready());
    // Without text or length, the box tells when the probe has found the window.
    Json out;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ProbeRun run = runProbe();
        out = Json::parse(run.json, nullptr, false);
        if (out.is_object() && hasBox(out)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(out["trusted"], true);
    EXPECT_FALSE(out.contains("text")) << out;
    EXPECT_FALSE(out.contains("selectedLength")) << out;
    expectInWindow(out);
}

// Pids of this process's children that are still alive (orphans land here as well).
std::vector<pid_t> livingChildren() {
    std::vector<pid_t> pids;
    std::ifstream list("/proc/self/task/" + std::to_string(gettid()) + "/children");
    for (pid_t pid; list >> pid;)
        pids.push_back(pid);
    return pids;
}

TEST(ProbeEndToEnd, NoSessionBusIsNotTrustedAndStartsNothing) {
    char runtimeDir[] = "/tmp/probe-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(runtimeDir), nullptr);
    // Whatever the probe might start and leave behind would be re-parented to this process.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ProbeRun run = runProbe({"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                             std::string("XDG_RUNTIME_DIR=") + runtimeDir});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<pid_t> left = livingChildren();
    for (pid_t pid : left)
        kill(pid, SIGKILL);
    for (pid_t pid : left)
        waitpid(pid, nullptr, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    rmdir(runtimeDir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.json, R"({"trusted":false})");
    EXPECT_TRUE(left.empty()) << left.size() << " processes were left behind";
}

TEST(ProbeEndToEnd, AutolaunchAddressIsNotUsed) {
    ProbeRun run = runProbe({"DBUS_SESSION_BUS_ADDRESS=autolaunch:", "AT_SPI_BUS_ADDRESS"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.json, R"({"trusted":false})");
}

// A Unix socket that takes connections but never answers; removed when destroyed.
class SilentSocket {
  public:
    explicit SilentSocket(std::string path) : path_(std::move(path)) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        listening_ = fd_ >= 0 &&
                     bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     listen(fd_, 4) == 0;
    }
    ~SilentSocket() {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    bool listening() const { return listening_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool listening_ = false;
};

TEST(ProbeEndToEnd, SilentDisplayLeavesTheBusSearchWorking) {
    TextApp app({"--text", "Hello world", "--start", "0", "--end", "5"});
    ASSERT_TRUE(app.ready());
    ASSERT_TRUE(probeSelectionOf(app).contains("selectedLength"));
    // A display that is grabbed by another client, or frozen, accepts and never answers.
    int display = 900 + getpid() % 5000;
    mkdir("/tmp/.X11-unix", 01777);
    SilentSocket silent("/tmp/.X11-unix/X" + std::to_string(display));
    ASSERT_TRUE(silent.listening());
    ProbeRun run = runProbe({"DISPLAY=:" + std::to_string(display)});
    EXPECT_EQ(run.status, 0) << "the probe had to be killed";
    Json out = Json::parse(run.json, nullptr, false);
    // Without the window's process the application marking its frame active is read.
    EXPECT_EQ(out["text"], "Hello") << run.json;
}

TEST(ProbeEndToEnd, SilentSessionBusIsNotTrusted) {
    // A socket that takes connections but never answers, as a frozen bus would.
    std::string path = "/tmp/probe-e2e-silent-" + std::to_string(getpid());
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    // Without a display the accessibility bus can only be learnt from the session bus.
    ProbeRun run =
        runProbe({"DBUS_SESSION_BUS_ADDRESS=unix:path=" + path, "AT_SPI_BUS_ADDRESS", "DISPLAY"});
    close(listener);
    unlink(path.c_str());
    EXPECT_EQ(run.status, 0) << "the probe had to be killed";
    EXPECT_EQ(run.json, R"({"trusted":false})");
}

} // namespace
