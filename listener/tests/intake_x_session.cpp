#include "intake_x_session.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr KeySym kXF86Fn = 0x100811d0;

long millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return std::max<long>(0, static_cast<long>(left.count()));
}

} // namespace

ListenerProcess::ListenerProcess(const std::string& program, const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& arg : argv)
        cargv.push_back(arg.data());
    cargv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, cargv.data(), environ) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

ListenerProcess::~ListenerProcess() {
    stop();
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

std::optional<std::string> ListenerProcess::readLine(int fd, std::string& buffer,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t end = buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            return line;
        }
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(millisecondsLeft(deadline)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(got));
    }
}

std::optional<std::string> ListenerProcess::nextErrorLine(std::chrono::milliseconds timeout) {
    if (err_ < 0) return std::nullopt;
    std::optional<std::string> line = readLine(err_, errBuffer_, timeout);
    if (line) errLog_ += *line + "\n";
    return line;
}

std::optional<std::string> ListenerProcess::nextLine(std::chrono::milliseconds timeout) {
    if (out_ < 0) return std::nullopt;
    return readLine(out_, outBuffer_, timeout);
}

std::string ListenerProcess::errors() {
    if (err_ < 0) return errLog_ + errBuffer_;
    pollfd waiting{err_, POLLIN, 0};
    char chunk[4096];
    while (poll(&waiting, 1, 0) > 0) {
        const ssize_t got = read(err_, chunk, sizeof chunk);
        if (got <= 0) break;
        errBuffer_.append(chunk, static_cast<size_t>(got));
    }
    return errLog_ + errBuffer_;
}

std::optional<int> ListenerProcess::waitExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    do {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        usleep(1000); // fine enough to time an exit
    } while (millisecondsLeft(deadline) > 0);
    return std::nullopt;
}

void ListenerProcess::closeOutput() {
    if (out_ >= 0) close(out_);
    out_ = -1;
}

void ListenerProcess::sendSignal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

int ListenerProcess::stop() {
    if (pid_ <= 0) return -1;
    int status = 0;
    kill(pid_, SIGTERM);
    for (int tries = 0; tries < 200; ++tries) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

XSession::XSession() {
    int event = 0, error = 0, major = 0, minor = 0;
    Display* display = XOpenDisplay(nullptr);
    if (display && XTestQueryExtension(display, &event, &error, &major, &minor)) {
        display_ = display;
    } else if (display) {
        XCloseDisplay(display);
    }
}

XSession::~XSession() {
    if (!display_) return;
    releaseAll();
    XCloseDisplay(display_);
}

void XSession::press(unsigned keyCode) {
    XTestFakeKeyEvent(display_, keyCode, True, CurrentTime);
    XSync(display_, False);
    down_.push_back(keyCode);
}

void XSession::release(unsigned keyCode) {
    XTestFakeKeyEvent(display_, keyCode, False, CurrentTime);
    XSync(display_, False);
    std::erase(down_, keyCode);
}

void XSession::releaseAll() {
    while (!down_.empty())
        release(down_.back());
}

void XSession::setCapsLocked(bool on) {
    XkbLockModifiers(display_, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display_, False);
}

bool XSession::capsLocked() {
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}

bool XSession::mapToFn(unsigned keyCode) {
    KeySym keysym = kXF86Fn;
    XChangeKeyboardMapping(display_, static_cast<int>(keyCode), 1, &keysym, 1);
    XSync(display_, False);
    KeySym now = XkbKeycodeToKeysym(display_, static_cast<KeyCode>(keyCode), 0, 0);
    return now == kXF86Fn || XKeysymToKeycode(display_, kXF86Fn) == keyCode;
}

void XSession::grabKey(unsigned keyCode) {
    XGrabKey(display_, static_cast<int>(keyCode), AnyModifier, DefaultRootWindow(display_), False,
             GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
}

bool XSession::setxkbmap(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"setxkbmap"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& arg : argv)
        cargv.push_back(arg.data());
    cargv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "setxkbmap", nullptr, nullptr, cargv.data(), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void XSession::lockGroup(unsigned group) {
    XkbLockGroup(display_, XkbUseCoreKbd, group);
    XSync(display_, False);
}

void XSession::send(unsigned keyCode, bool press) {
    XTestFakeKeyEvent(display_, keyCode, press ? True : False, CurrentTime);
}

void XSession::flush() {
    XSync(display_, False);
}

FocusWindow::FocusWindow() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) return;
    const Window window =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(display_, window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
    XMapWindow(display_, window);
    XEvent event;
    do {
        XNextEvent(display_, &event);
    } while (event.type != MapNotify);
    XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
    window_ = window;
}

FocusWindow::~FocusWindow() {
    if (display_) XCloseDisplay(display_);
}

std::vector<unsigned> FocusWindow::pressesSoFar() {
    std::vector<unsigned> presses;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == KeyPress) presses.push_back(event.xkey.keycode);
    }
    return presses;
}

std::optional<std::vector<unsigned>>
FocusWindow::pressesUntil(unsigned sentinel, std::chrono::milliseconds timeout, Wait wait) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<unsigned> presses;
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != KeyPress) continue;
            if (wait == Wait::sincePress) deadline = std::chrono::steady_clock::now() + timeout;
            presses.push_back(event.xkey.keycode);
            if (event.xkey.keycode == sentinel) return presses;
        }
        pollfd waiting{ConnectionNumber(display_), POLLIN, 0};
        const long left = millisecondsLeft(deadline);
        if (left == 0) return std::nullopt;
        poll(&waiting, 1, static_cast<int>(left));
    }
}
