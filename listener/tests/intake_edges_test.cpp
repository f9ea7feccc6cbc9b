// The built shortcut-listener on a private X server (run under testing/with-display) at the
// edges of the keyboard's life: a keymap change while fn is held, layouts whose Caps Lock key
// is something else or nothing, fn already held at start, and SIGTERM in the middle of a
// translate chord. Key code 200 is mapped to XF86Fn.
//   intake_edges_tests PATH-TO-shortcut-listener [gtest options]

#include "intake_host_fixture.h"
#include "intake_x_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>

namespace {

const std::string kNoCapsLockKey =
    "no key of this keyboard layout is Caps_Lock; the translate chord fn + Caps Lock is "
    "unavailable";

size_t occurrences(const std::string& text, const std::string& line) {
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++count;
    return count;
}

// The keymap changes while fn is held, and the new one has no XF86Fn (as setxkbmap, or a
// desktop applying a layout for a new keyboard, does): fn is released for the listener too, so
// Caps Lock taps after fn is mapped again are plain taps.
TEST_F(HostCases, AKeymapChangeThatDropsAHeldFnReleasesIt) {
    ListenerProcess& listener = start({});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::fn);
    // A layout without Caps_Lock: its line shows that the listener has read this keymap,
    // which has no XF86Fn, while fn was still held.
    useLayoutAsIs({"-layout", "us", "-option", "caps:none"});
    ASSERT_TRUE(waitForError(listener, kNoCapsLockKey)) << listener.errors();
    session.release(xkey::fn);
    useLayout({"-layout", "us", "-option", ""});
    session.tap(xkey::capsLock);
    session.tap(xkey::capsLock);
    session.press(xkey::fn); // the sentinel: its line comes next
    session.tap(xkey::control);
    session.release(xkey::fn);
    EXPECT_EQ(lines(listener, 1), std::vector<std::string>{"speak"});
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::control);
    ASSERT_TRUE(presses);
    EXPECT_EQ(std::count(presses->begin(), presses->end(), xkey::capsLock), 2)
        << "both Caps Lock taps reach the window";
    EXPECT_FALSE(session.capsLocked()) << "two taps leave Caps Lock as it was";
}

// With ctrl:nocaps the Caps Lock position is a Control key: with fn it records and delivers
// fn + Control, never Caps Lock.
TEST_F(HostCases, AControlKeyAtTheCapsLockPlaceIsControl) {
    useLayout({"-layout", "us", "-option", "ctrl:nocaps"});
    ListenerProcess& recorder = start({"--record"});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::fn);
    session.tap(xkey::capsLock);
    session.release(xkey::fn);
    session.tap(xkey::shift);  // the window's sentinel: modifiers are never withheld
    session.tap(xkey::escape); // the recorder's sentinel
    EXPECT_EQ(
        lines(recorder, 2),
        (std::vector<std::string>{
            R"(record:{"fn":true,"control":true,"option":false,"shift":false,"command":false,"keyLabel":""})",
            "record-cancel"}));
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::shift);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::fn, xkey::capsLock, xkey::shift}))
        << "the Control press reaches the window";
    EXPECT_EQ(occurrences(recorder.errors(), kNoCapsLockKey), 1u)
        << "ctrl:nocaps has no Caps_Lock key";
}

// With caps:none the key does nothing: not a chord, not a recording, and it is not withheld.
TEST_F(HostCases, ADisabledCapsLockKeyIsNoKeyAndSaysSoOnce) {
    useLayout({"-layout", "us", "-option", "caps:none"});
    {
        ListenerProcess& recorder = start({"--record"});
        session.press(xkey::fn);
        session.tap(xkey::capsLock);
        session.release(xkey::fn);
        session.tap(xkey::escape); // the sentinel: nothing written before it
        EXPECT_EQ(lines(recorder, 1), std::vector<std::string>{"record-cancel"});
        ASSERT_TRUE(session.mapToFn(xkey::fn)); // a keymap refresh: no second line
        session.tap(xkey::escape);
        EXPECT_EQ(lines(recorder, 1), std::vector<std::string>{"record-cancel"});
        EXPECT_EQ(occurrences(recorder.errors(), kNoCapsLockKey), 1u) << recorder.errors();
        listeners.back()->stop();
        listeners.pop_back();
    }
    ListenerProcess& listener = start({});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::fn);
    session.tap(xkey::capsLock);
    session.tap(xkey::control);
    session.release(xkey::fn);
    EXPECT_EQ(lines(listener, 1), std::vector<std::string>{"speak"});
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::control);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::fn, xkey::capsLock, xkey::control}));
}

// fn held before the listener starts is fn held: fn + Caps Lock translates and keeps Caps Lock.
class FnHeldAtStart : public HostCases, public ::testing::WithParamInterface<bool> {};

TEST_P(FnHeldAtStart, TranslatesWithCapsLockKept) {
    const bool capsOn = GetParam();
    session.setCapsLocked(capsOn);
    session.press(xkey::fn);
    ListenerProcess& listener = start({});
    session.tap(xkey::capsLock);
    session.release(xkey::fn);
    session.press(xkey::fn); // the sentinel
    session.tap(xkey::control);
    session.release(xkey::fn);
    EXPECT_EQ(lines(listener, 2), (std::vector<std::string>{"translate", "speak"}));
    EXPECT_EQ(session.capsLocked(), capsOn);
}

INSTANTIATE_TEST_SUITE_P(CapsLock, FnHeldAtStart, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

// SIGTERM comes while fn + Caps Lock is held with Caps Lock on. XKB unlocks Caps Lock at the
// release; the listener puts it back before it ends, and ends as SIGTERM ends it. The listener
// is stopped while the keys are released and the signal sent, so that both wait for it in
// this order whatever the machine's load.
TEST_F(HostCases, SigtermDuringATranslateChordKeepsCapsLock) {
    session.setCapsLocked(true);
    ListenerProcess& listener = start({});
    session.press(xkey::fn);
    session.press(xkey::capsLock);
    ASSERT_EQ(lines(listener, 1), std::vector<std::string>{"translate"});
    listener.sendSignal(SIGSTOP);
    session.release(xkey::capsLock);
    session.release(xkey::fn);
    listener.sendSignal(SIGTERM);
    listener.sendSignal(SIGCONT);
    const std::optional<int> status = listener.waitExit(30s);
    listeners.clear();
    ASSERT_TRUE(status) << "the listener did not end";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << "status " << *status;
    EXPECT_TRUE(session.capsLocked());
}

// A Caps Lock key still held is not waited for without end: SIGTERM ends the listener anyway.
TEST_F(HostCases, SigtermWhileCapsLockStaysHeldStillEnds) {
    session.setCapsLocked(true);
    ListenerProcess& listener = start({});
    session.press(xkey::fn);
    session.press(xkey::capsLock);
    ASSERT_EQ(lines(listener, 1), std::vector<std::string>{"translate"});
    listener.sendSignal(SIGTERM);
    const std::optional<int> status = listener.waitExit(30s);
    listeners.clear();
    ASSERT_TRUE(status) << "the listener did not end while Caps Lock was held";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << "status " << *status;
}

} // namespace
