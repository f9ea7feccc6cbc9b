// The built shortcut-listener on a private X server (run under testing/with-display) in the
// situations a host and a user bring: keys released in any order, a second listener started
// before the first has ended, layouts that move Caps Lock and Escape or switch groups, and
// chords injected at machine speed. Key code 200 is mapped to XF86Fn.
//   intake_host_cases_tests PATH-TO-shortcut-listener [gtest options]

#include "intake_host_fixture.h"
#include "intake_raw_counter.h"
#include "intake_x_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/wait.h>

namespace {

// "translate" on fn + Caps Lock as a custom binding, "read" on fn + Control.
const char* const kCapsBinding =
    R"({"translate":{"fn":true,"control":false,"option":false,"shift":false,"command":false,"keyCode":57,"keyLabel":"Caps Lock"},)"
    R"("read":{"fn":true,"control":true,"option":false,"shift":false,"command":false,"keyLabel":""}})";

// "read" on Control + R.
const char* const kControlR =
    R"({"read":{"fn":false,"control":true,"option":false,"shift":false,"command":false,"keyCode":15,"keyLabel":"R"}})";

constexpr unsigned kXKeyR = 27, kXKeyOne = 10, kXKeyF5 = 71;

const std::string kRecordHead =
    R"(record:{"fn":false,"control":true,"option":false,"shift":false,"command":false,)";

// Caps Lock on or off, and the default chord or a custom fn + Caps Lock binding.
class FnReleasedFirst : public HostCases,
                        public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(FnReleasedFirst, LeavesCapsLockAsItWas) {
    const auto [capsOn, custom] = GetParam();
    session.setCapsLocked(capsOn);
    ListenerProcess& listener = start(custom ? std::vector<std::string>{"--bindings", kCapsBinding}
                                             : std::vector<std::string>{});
    for (int hold = 0; hold < 2; ++hold) {
        session.press(xkey::fn);
        session.press(xkey::capsLock);
        session.release(xkey::fn);
        session.release(xkey::capsLock);
        session.press(xkey::fn); // the sentinel: its line comes after the release was handled
        session.press(xkey::control);
        session.release(xkey::fn);
        session.release(xkey::control);
        EXPECT_EQ(lines(listener, 2), (std::vector<std::string>{"translate", "speak"}))
            << "hold " << hold;
        EXPECT_EQ(session.capsLocked(), capsOn) << "hold " << hold;
    }
}

INSTANTIATE_TEST_SUITE_P(CapsLockAndBinding, FnReleasedFirst,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "On" : "Off") +
                                    (std::get<1>(info.param) ? "Custom" : "Default");
                         });

TEST_F(HostCases, RecordModeWritesOneLinePerFnCapsLockChord) {
    ListenerProcess& recorder = start({"--record"});
    for (int chord = 0; chord < 2; ++chord) {
        session.press(xkey::fn);
        session.tap(xkey::capsLock);
        session.release(xkey::fn);
    }
    session.tap(xkey::escape); // the sentinel: nothing written in between
    const std::string caps =
        R"(record:{"fn":true,"control":false,"option":false,"shift":false,"command":false,"keyCode":57,"keyLabel":"Caps Lock"})";
    EXPECT_EQ(lines(recorder, 3), (std::vector<std::string>{caps, caps, "record-cancel"}));
    EXPECT_FALSE(session.capsLocked());
}

TEST_F(HostCases, ASecondListenerGetsTheGrabsOnceTheFirstHasEnded) {
    ListenerProcess& first = start({"--bindings", kControlR});
    listeners.push_back(std::make_unique<ListenerProcess>(
        listenerPath, std::vector<std::string>{"--bindings", kControlR}));
    ListenerProcess& second = *listeners.back();
    // The refusal follows the ready line; the recovery follows the refusal.
    ASSERT_EQ(second.nextErrorLine(), "ready: event tap") << second.errors();
    const std::optional<std::string> refusal = second.nextErrorLine();
    ASSERT_TRUE(refusal && refusal->rfind("another X client holds key grabs; ", 0) == 0)
        << second.errors();
    EXPECT_TRUE(WIFSIGNALED(first.stop()));
    listeners.erase(listeners.begin());
    // How soon is not checked, only that it comes.
    ASSERT_EQ(second.nextErrorLine(), "refused key grabs obtained; those keys are withheld again")
        << second.errors();
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::control);
    session.tap(kXKeyR);
    session.release(xkey::control);
    session.tap(xkey::z);
    EXPECT_EQ(lines(second, 1), std::vector<std::string>{"speak"});
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::z, 30s);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::control, xkey::z}))
        << "Control + R is withheld";
}

// With Caps Lock and Escape swapped, the key that says Escape cancels a recording and the key
// that says Caps Lock makes the chords, wherever they sit.
TEST_F(HostCases, SwappedCapsLockAndEscapeAreKnownByWhatTheyAre) {
    useLayout({"-layout", "us", "-option", "caps:swapescape"});
    const unsigned userEscape = xkey::capsLock, userCapsLock = xkey::escape;
    {
        ListenerProcess& recorder = start({"--record"});
        session.tap(userEscape);
        session.press(xkey::fn);
        session.tap(userCapsLock);
        session.release(xkey::fn);
        session.tap(userEscape); // the sentinel: nothing written in between
        EXPECT_EQ(
            lines(recorder, 3),
            (std::vector<std::string>{
                "record-cancel",
                R"(record:{"fn":true,"control":false,"option":false,"shift":false,"command":false,"keyCode":57,"keyLabel":"Caps Lock"})",
                "record-cancel"}));
        EXPECT_FALSE(session.capsLocked());
        listeners.back()->stop();
        listeners.pop_back();
    }
    ListenerProcess& listener = start({});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::fn);
    session.tap(userCapsLock);
    session.release(xkey::fn);
    session.press(xkey::fn);
    session.tap(xkey::control);
    session.release(xkey::fn);
    EXPECT_EQ(lines(listener, 2), (std::vector<std::string>{"translate", "speak"}));
    EXPECT_FALSE(session.capsLocked()) << "fn + the user's Caps Lock does not toggle it";
    session.tap(userEscape);
    EXPECT_FALSE(session.capsLocked());
    session.tap(userCapsLock);
    EXPECT_TRUE(session.capsLocked()) << "the user's Caps Lock alone toggles it";
    session.tap(xkey::z);
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::z, 30s);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::fn, xkey::fn, xkey::control, userEscape,
                                               userCapsLock, xkey::z}))
        << "only the chord's Caps Lock is withheld";
}

TEST_F(HostCases, LabelsComeFromTheActiveGroup) {
    useLayout({"-layout", "us,ru"});
    session.lockGroup(1);
    ListenerProcess& recorder = start({"--record"});
    // Each chord's line is awaited before the group changes: while a grabbed key waits for
    // the listener's answer, the server holds back the key events behind it, not the change.
    const auto recordChord = [&](std::initializer_list<unsigned> keys) {
        for (const unsigned key : keys)
            session.press(key);
        session.releaseAll();
        const std::optional<std::string> line = recorder.nextLine(30s);
        return line ? *line : std::string("(no line)");
    };
    // Record lines come with a weight that never falls: chords with a key and one modifier
    // first, then the one with two.
    EXPECT_EQ(recordChord({xkey::control, xkey::a}),
              kRecordHead + R"("keyCode":0,"keyLabel":"Ф"})");
    session.lockGroup(0);
    EXPECT_EQ(recordChord({xkey::control, xkey::a}),
              kRecordHead + R"("keyCode":0,"keyLabel":"A"})");
    EXPECT_EQ(recordChord({xkey::control, kXKeyF5}),
              kRecordHead + "\"keyCode\":96,\"keyLabel\":\"\uF708\"}");
    session.lockGroup(1);
    EXPECT_EQ(
        recordChord({xkey::control, xkey::shift, kXKeyOne}),
        R"(record:{"fn":false,"control":true,"option":false,"shift":true,"command":false,"keyCode":18,"keyLabel":"!"})");
}

// AltGr is the right Option key of a Mac keyboard: it sets the Option flag, and labels ignore
// it as AppKit's ignore Option.
TEST_F(HostCases, AltGrIsOption) {
    useLayout({"-layout", "de"});
    constexpr unsigned kXKeyRightAlt = 108, kXKeyE = 26;
    ListenerProcess& recorder = start({"--record"});
    session.press(kXKeyRightAlt);
    session.tap(kXKeyE);
    session.releaseAll();
    EXPECT_EQ(
        lines(recorder, 1),
        std::vector<std::string>{
            R"(record:{"fn":false,"control":false,"option":true,"shift":false,"command":false,"keyCode":14,"keyLabel":"E"})"});
}

// Chords sent back to back, without waiting for the server between events, with Caps Lock on
// and off.
class Burst : public HostCases, public ::testing::WithParamInterface<bool> {};

TEST_P(Burst, OfTranslateChordsGivesOneLineEachAndKeepsCapsLock) {
    constexpr int kChords = 2000;
    const bool capsOn = GetParam();
    session.setCapsLocked(capsOn);
    ListenerProcess& listener = start({});
    RawPressCounter server;
    ASSERT_TRUE(server.ok());
    for (int chord = 0; chord < kChords; ++chord) {
        session.send(xkey::fn, true);
        session.send(xkey::capsLock, true);
        session.send(xkey::capsLock, false);
        session.send(xkey::fn, false);
    }
    session.send(xkey::fn, true);
    session.send(xkey::control, true);
    session.send(xkey::control, false);
    session.send(xkey::fn, false);
    session.flush();
    // Every chord reached the server: a line missing below is the listener's loss.
    EXPECT_EQ(server.pressesUntil(xkey::capsLock, xkey::control), kChords);
    int translates = 0;
    std::optional<std::string> line;
    while ((line = listener.nextLine(30s)) && *line == "translate")
        ++translates;
    EXPECT_EQ(line, "speak");
    EXPECT_EQ(translates, kChords);
    EXPECT_EQ(session.capsLocked(), capsOn);
}

INSTANTIATE_TEST_SUITE_P(CapsLock, Burst, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

} // namespace
