// The built shortcut-listener on a private X server, read as a host reads it: a host that
// goes away, a host that stops reading while the user keeps typing, and the order of the
// listener's first diagnostics. Run under testing/with-display:
//   intake_host_reader_tests PATH-TO-shortcut-listener [gtest options]

#include "intake_fn_session.h"
#include "intake_x_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <thread>

namespace {

constexpr std::string_view kDropReport =
    "standard output is not being read; dropping the oldest lines until it is";

size_t occurrences(const std::string& text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The line chord i of the stop-reading run writes: translate for even i, speak for odd.
std::string_view chordLine(size_t chord) {
    return chord % 2 == 0 ? "translate" : "speak";
}

// How many lines from the front are those of chords 0, 1, 2, ... in order.
size_t firstChordsRead(const std::vector<std::string>& lines) {
    size_t k = 0;
    while (k < lines.size() && lines[k] == chordLine(k))
        ++k;
    return k;
}

// How many lines from the back are those of chords ..., chords - 2, chords - 1 in order.
size_t lastChordsRead(const std::vector<std::string>& lines, size_t chords) {
    size_t k = 0;
    while (k < lines.size() && lines[lines.size() - 1 - k] == chordLine(chords - 1 - k))
        ++k;
    return k;
}

bool endedBySigterm(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

class HostReader : public FnSessionTest {
  protected:
    void start(const std::vector<std::string>& args = {}) {
        listener = std::make_unique<ListenerProcess>(listenerPath, args);
        ASSERT_TRUE(listener->started());
        ASSERT_EQ(listener->nextErrorLine(), "ready: event tap") << listener->errors();
    }

    void chord(unsigned first, unsigned second) {
        session.press(first);
        session.press(second);
        session.release(second);
        session.release(first);
    }

    std::unique_ptr<ListenerProcess> listener;
};

TEST_F(HostReader, AListenerWhoseReaderHasGoneEndsWithStatusZero) {
    start();
    listener->closeOutput();
    // Nothing more is pressed: the listener must notice the reader's end by itself.
    const std::optional<int> status = listener->waitExit(60s);
    ASSERT_TRUE(status) << "the orphaned listener kept running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_EQ(listener->errors(), "ready: event tap\n");
}

TEST_F(HostReader, ReadyComesFirstEvenWhenAnotherClientHoldsTheGrabs) {
    session.grabKey(xkey::capsLock);
    start();
    const std::optional<std::string> next = listener->nextErrorLine();
    ASSERT_TRUE(next) << listener->errors();
    EXPECT_NE(next->find("another X client holds key grabs"), std::string::npos) << *next;
    chord(xkey::fn, xkey::control);
    EXPECT_EQ(listener->nextLine(), "speak") << "still listening";
    EXPECT_TRUE(endedBySigterm(listener->stop())) << listener->errors();
}

// 20000 chords alternate translate and speak while the host reads nothing, with typing in
// between. The keyboard must keep working throughout; afterwards the host gets the newest
// lines, whole and in order, and one report of the dropped ones.
TEST_F(HostReader, AHostThatStopsReadingNeverHoldsTheKeyboard) {
    constexpr int kChords = 20000;
    constexpr int kChordsPerLetter = 10;
    start();
    FocusWindow window;
    ASSERT_TRUE(window.ok());
    const auto stopped = std::chrono::steady_clock::now();
    size_t typed = 0;
    for (int i = 0; i < kChords; ++i) {
        chord(xkey::fn, i % 2 == 0 ? xkey::capsLock : xkey::control);
        if (i % kChordsPerLetter == 0) {
            session.tap(xkey::a);
            const std::vector<unsigned> presses = window.pressesSoFar();
            typed += static_cast<size_t>(std::count(presses.begin(), presses.end(), xkey::a));
        }
    }
    session.tap(xkey::z);
    // The server queues every key behind the chords the listener still answers one by one;
    // on a loaded machine that backlog takes minutes. It must keep arriving, and arrive whole.
    const std::optional<std::vector<unsigned>> rest =
        window.pressesUntil(xkey::z, 60s, FocusWindow::Wait::sincePress);
    ASSERT_TRUE(rest) << "typing stopped reaching the window while the host did not read";
    typed += static_cast<size_t>(std::count(rest->begin(), rest->end(), xkey::a));
    EXPECT_EQ(typed, static_cast<size_t>(kChords / kChordsPerLetter));
    EXPECT_FALSE(session.capsLocked());

    std::this_thread::sleep_until(stopped + 10s);
    chord(xkey::fn, xkey::control); // the newest line, never dropped: two speaks in a row
    std::vector<std::string> lines;
    for (;;) {
        std::optional<std::string> line = listener->nextLine(60s);
        ASSERT_TRUE(line) << "after " << lines.size() << " lines";
        lines.push_back(*line);
        if (lines.size() >= 2 && lines.back() == "speak" && lines[lines.size() - 2] == "speak")
            break;
    }
    lines.pop_back();
    ASSERT_LT(lines.size(), static_cast<size_t>(kChords)) << "some lines had to be dropped";
    ASSERT_GT(lines.size(), 1000u);
    // Chord i writes translate when i is even; the last chord, 19999, spoke. The pipe holds the
    // first chords' lines, written before it filled; the queue keeps the newest ones. So the
    // host reads the first chords in order, then the last ones in order, and nothing else:
    // how many were dropped in between (an odd or an even number) is left open.
    const size_t head = firstChordsRead(lines);
    const size_t tail = lastChordsRead(lines, kChords);
    EXPECT_GT(head, 0u) << "the lines already in the pipe come first";
    EXPECT_GE(head + tail, lines.size())
        << "a line out of order or torn: the first " << head << " and the last " << tail << " of "
        << lines.size() << " lines are in chord order";
    EXPECT_EQ(occurrences(listener->errors(), kDropReport), 1u) << listener->errors();
    EXPECT_TRUE(endedBySigterm(listener->stop())) << listener->errors();
}

} // namespace
