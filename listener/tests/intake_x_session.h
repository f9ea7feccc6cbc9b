#pragma once
// Helpers for driving the built shortcut-listener on a private X server: the listener as a
// child process with its two streams on pipes, key injection through XTest, and a focused
// window that reports the key presses it receives. Used by the end-to-end test and the
// latency benchmark; each helper ends what it started.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace std::chrono_literals;

// Xlib's display, declared here so that includers do not get Xlib's macros.
struct _XDisplay;

// The built listener under test, set from the test program's command line.
extern std::string listenerPath;

// X key codes of the keys the tests press (evdev + 8).
namespace xkey {
inline constexpr unsigned escape = 9, a = 38, s = 39, d = 40, z = 52, q = 24, control = 37,
                          shift = 50, alt = 64, capsLock = 66, super = 133;
// A spare key code that the session maps to the XF86Fn keysym.
inline constexpr unsigned fn = 200;
} // namespace xkey

class ListenerProcess {
  public:
    ListenerProcess(const std::string& program, const std::vector<std::string>& args);
    ~ListenerProcess();
    ListenerProcess(const ListenerProcess&) = delete;
    ListenerProcess& operator=(const ListenerProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The next line on standard error without its line feed, or none at time-out or end.
    std::optional<std::string> nextErrorLine(std::chrono::milliseconds timeout = 30s);
    // The next line on standard output without its line feed, or none at time-out or end.
    std::optional<std::string> nextLine(std::chrono::milliseconds timeout = 30s);
    // Everything on standard error so far.
    std::string errors();
    // Closes the reading end of standard output, as a reader that goes away does.
    void closeOutput();
    // Sends the signal to the process, if it runs.
    void sendSignal(int signal);
    // Ends the process (SIGTERM, then SIGKILL) and gives its wait status.
    int stop();
    // Waits for the process to end by itself; gives its wait status, or none at time-out.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = 30s);

  private:
    static std::optional<std::string> readLine(int fd, std::string& buffer,
                                               std::chrono::milliseconds timeout);
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuffer_;
    std::string errBuffer_;
    std::string errLog_;
};

class XSession {
  public:
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool ok() const { return display_ != nullptr; }
    _XDisplay* display() const { return display_; }
    void press(unsigned keyCode);
    void release(unsigned keyCode);
    void tap(unsigned keyCode) {
        press(keyCode);
        release(keyCode);
    }
    // Releases every key the session pressed and did not release.
    void releaseAll();
    void setCapsLocked(bool on);
    bool capsLocked();
    // Maps the key code to the XF86Fn keysym, as `xmodmap -e 'keycode 200 = XF86Fn'` does.
    bool mapToFn(unsigned keyCode);
    // Holds a passive grab of the key under any modifiers, as another program would; it lasts
    // until the session ends.
    void grabKey(unsigned keyCode);
    // Loads a keymap with `setxkbmap ARGS...`; true when it ran and succeeded.
    static bool setxkbmap(const std::vector<std::string>& args);
    // Makes the layout group (0 for the first layout) the locked, active one.
    void lockGroup(unsigned group);
    // Sends a key event without waiting for the server; flush() sends what is queued.
    void send(unsigned keyCode, bool press);
    void flush();

  private:
    _XDisplay* display_ = nullptr;
    std::vector<unsigned> down_;
};

// A mapped window with the input focus, on its own connection, that collects the key codes of
// the KeyPress events delivered to it.
class FocusWindow {
  public:
    FocusWindow();
    ~FocusWindow();
    FocusWindow(const FocusWindow&) = delete;
    FocusWindow& operator=(const FocusWindow&) = delete;

    bool ok() const { return window_ != 0; }
    // The key codes pressed in the window up to and including the first press of `sentinel`,
    // or none when it does not come in time. With `Wait::sincePress` the time runs from the
    // latest press instead, so a long backlog that keeps arriving is waited for whole and only
    // a keyboard that stops delivering fails.
    enum class Wait { total, sincePress };
    std::optional<std::vector<unsigned>> pressesUntil(unsigned sentinel,
                                                      std::chrono::milliseconds timeout = 30s,
                                                      Wait wait = Wait::total);
    // The key codes pressed in the window that have arrived by now, without waiting.
    std::vector<unsigned> pressesSoFar();

  private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0; // an X Window id
};
