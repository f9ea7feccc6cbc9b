// The built shortcut-listener on a private X server (run under testing/with-display), with
// keys injected through XTest and a focused window that reports what reaches applications.
// Silence is shown with sentinels: a scenario ends with a chord whose line must come next, so
// any line written in between shows up, and with a key the window must see last.
//   intake_end_to_end_tests PATH-TO-shortcut-listener [gtest options]

#include "intake_fn_session.h"
#include "intake_x_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <sys/wait.h>

namespace {

const char* const kSpeakAndTranslate =
    R"({"read":{"fn":false,"control":true,"option":false,"shift":false,"command":false,"keyCode":0,"keyLabel":"A"},)"
    R"("translate":{"fn":true,"control":false,"option":false,"shift":false,"command":false,"keyCode":1,"keyLabel":"S"}})";

const char* const kModifierOnly =
    R"({"read":{"fn":false,"control":true,"option":false,"shift":true,"command":false,"keyLabel":""},)"
    R"("translate":{"fn":true,"control":false,"option":true,"shift":false,"command":false,"keyCode":null,"keyLabel":""}})";

class IntakeEndToEnd : public FnSessionTest {
  protected:
    void TearDown() override {
        FnSessionTest::TearDown();
        if (listener) {
            const int status = listener->stop();
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << "the listener ended early, status " << status
                << "; stderr: " << listener->errors();
        }
    }

    void start(const std::vector<std::string>& args) {
        listener = std::make_unique<ListenerProcess>(listenerPath, args);
        ASSERT_TRUE(listener->started());
        ASSERT_EQ(listener->nextErrorLine(), "ready: event tap") << listener->errors();
    }

    // Presses the keys in order and releases them in reverse order.
    void chord(std::initializer_list<unsigned> keys) {
        for (const unsigned key : keys)
            session.press(key);
        for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
            session.release(*key);
    }

    std::vector<std::string> lines(size_t count) {
        std::vector<std::string> got;
        while (got.size() < count) {
            const std::optional<std::string> line = listener->nextLine();
            if (!line) break;
            got.push_back(*line);
        }
        return got;
    }

    std::unique_ptr<ListenerProcess> listener;
};

class DefaultSpeak : public IntakeEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(DefaultSpeak, OnceForEachPressOfTheChord) {
    const bool optionAlias = GetParam();
    const unsigned modifier = optionAlias ? xkey::alt : xkey::control;
    const unsigned other = optionAlias ? xkey::control : xkey::alt;
    start(optionAlias ? std::vector<std::string>{"--option-alias"} : std::vector<std::string>{});
    session.press(xkey::fn);
    session.tap(other); // the other chord modifier speaks not
    session.press(modifier);
    session.tap(xkey::a); // further events while the chord is held write nothing more
    session.release(modifier);
    session.press(modifier); // a second press of the chord within the same fn hold
    session.release(modifier);
    session.release(xkey::fn);
    chord({modifier, xkey::fn}); // the chord completed by fn itself
    chord({xkey::fn, xkey::capsLock});
    EXPECT_EQ(lines(4), (std::vector<std::string>{"speak", "speak", "speak", "translate"}));
}

INSTANTIATE_TEST_SUITE_P(OptionAlias, DefaultSpeak, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Option" : "Control"; });

class Translate : public IntakeEndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(Translate, LeavesCapsLockAsItWasAndWithholdsIt) {
    const bool capsOn = GetParam();
    session.setCapsLocked(capsOn);
    start({});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    for (int hold = 0; hold < 2; ++hold) {
        chord({xkey::fn, xkey::capsLock});
        // The speak line comes after the Caps Lock release has been handled.
        chord({xkey::fn, xkey::control});
        EXPECT_EQ(lines(2), (std::vector<std::string>{"translate", "speak"})) << "hold " << hold;
        EXPECT_EQ(session.capsLocked(), capsOn) << "hold " << hold;
    }
    session.press(xkey::fn); // several Caps Lock presses in one hold: one translate
    session.tap(xkey::capsLock);
    session.tap(xkey::capsLock);
    session.release(xkey::fn);
    chord({xkey::fn, xkey::control});
    EXPECT_EQ(lines(2), (std::vector<std::string>{"translate", "speak"}));
    EXPECT_EQ(session.capsLocked(), capsOn);
    session.tap(xkey::z);
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::z);
    ASSERT_TRUE(presses);
    EXPECT_EQ(std::count(presses->begin(), presses->end(), xkey::capsLock), 0);
    EXPECT_EQ(std::count(presses->begin(), presses->end(), xkey::control), 3)
        << "the speak chord is delivered";
}

INSTANTIATE_TEST_SUITE_P(CapsLock, Translate, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_F(IntakeEndToEnd, KeyedBindingsWriteTheirLinesAndWithholdTheirKeys) {
    start({"--bindings", kSpeakAndTranslate});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    chord({xkey::control, xkey::a}); // "read": Control + A
    chord({xkey::fn, xkey::s});      // "translate": fn + S
    session.tap(xkey::a);            // A alone is not grabbed: delivered
    session.tap(xkey::s);            // S alone is grabbed (fn is no X modifier) and replayed
    chord({xkey::shift, xkey::control, xkey::a}); // more modifiers than bound: delivered
    chord({xkey::control, xkey::a});
    session.tap(xkey::z);
    EXPECT_EQ(lines(3), (std::vector<std::string>{"speak", "translate", "speak"}));
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::z);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses,
              (std::vector<unsigned>{xkey::control, xkey::fn, xkey::a, xkey::s, xkey::shift,
                                     xkey::control, xkey::a, xkey::control, xkey::z}));
}

TEST_F(IntakeEndToEnd, ModifierOnlyBindingsFireOncePerChord) {
    start({"--bindings", kModifierOnly});
    session.press(xkey::control);
    session.press(xkey::shift);
    session.tap(xkey::a);
    session.release(xkey::shift);
    session.press(xkey::shift);
    session.releaseAll();
    chord({xkey::fn, xkey::control}); // the default speak chord is no longer bound
    chord({xkey::fn, xkey::alt});
    EXPECT_EQ(lines(3), (std::vector<std::string>{"speak", "speak", "translate"}));
}

TEST_F(IntakeEndToEnd, RecordModeReportsChordsAndCancels) {
    start({"--record"});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    session.press(xkey::control);
    session.press(xkey::fn);
    session.tap(xkey::a);
    session.releaseAll();
    session.tap(xkey::a); // no modifier: no chord, delivered
    session.tap(xkey::escape);
    chord({xkey::shift, xkey::super, xkey::q});
    session.tap(xkey::z);
    const std::string head =
        R"(record:{"fn":true,"control":true,"option":false,"shift":false,"command":false,)";
    EXPECT_EQ(
        lines(4),
        (std::vector<std::string>{
            head + R"("keyLabel":""})", head + R"("keyCode":0,"keyLabel":"A"})", "record-cancel",
            R"(record:{"fn":false,"control":false,"option":false,"shift":true,"command":true,"keyCode":12,"keyLabel":"Q"})"}));
    const std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::z);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::control, xkey::fn, xkey::a, xkey::shift,
                                               xkey::super, xkey::z}))
        << "completing keys and Escape are withheld";
}

TEST_F(IntakeEndToEnd, PlainTypingWritesNothingAndIsDelivered) {
    start({});
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    for (const unsigned key : {xkey::a, xkey::s, xkey::d})
        session.tap(key);
    chord({xkey::shift, xkey::a});
    chord({xkey::control, xkey::s});
    session.tap(xkey::capsLock); // Caps Lock alone is grabbed, replayed and toggles as usual
    std::optional<std::vector<unsigned>> presses = window.pressesUntil(xkey::capsLock);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, (std::vector<unsigned>{xkey::a, xkey::s, xkey::d, xkey::shift, xkey::a,
                                               xkey::control, xkey::s, xkey::capsLock}));
    EXPECT_TRUE(session.capsLocked());
    session.tap(xkey::capsLock);
    presses = window.pressesUntil(xkey::capsLock);
    ASSERT_TRUE(presses);
    EXPECT_EQ(*presses, std::vector<unsigned>{xkey::capsLock});
    EXPECT_FALSE(session.capsLocked());
    chord({xkey::fn, xkey::control});
    EXPECT_EQ(lines(1), std::vector<std::string>{"speak"}) << "the first line is the sentinel's";
}

TEST_F(IntakeEndToEnd, AKeymapChangeIsPickedUp) {
    start({});
    constexpr unsigned kOtherSpare = 201;
    ASSERT_TRUE(session.mapToFn(kOtherSpare));
    chord({kOtherSpare, xkey::control});
    chord({xkey::fn, xkey::control});
    EXPECT_EQ(lines(2), (std::vector<std::string>{"speak", "speak"}));
}

TEST(IntakeWithoutDisplay, WritesOneLineAndExitsWithStatusOne) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    setenv("DISPLAY", "nowhere.invalid:77", 1);
    ListenerProcess listener(listenerPath, {});
    if (display) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    ASSERT_TRUE(listener.started());
    const std::optional<int> status = listener.waitExit();
    ASSERT_TRUE(status) << "the listener kept running without a display";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
    EXPECT_EQ(listener.errors(),
              "cannot open the X display \"nowhere.invalid:77\"; no keyboard events can be "
              "watched\n");
    EXPECT_EQ(listener.nextLine(0ms), std::nullopt);
}

} // namespace
