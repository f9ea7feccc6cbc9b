// The standard-output queue against real pipes: order, the bound, dropping the oldest lines
// with one report per overflow, lines longer than one write, a full non-blocking pipe, and a
// reader that has gone. Then descriptors poll() cannot watch: a poll() that answers POLLNVAL
// as macOS does for devices, and a real pty.

#include "output_queue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

class Pipe {
  public:
    Pipe() {
        EXPECT_EQ(::pipe(fds_), 0);
        // A closed reader must show as EPIPE, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
    }
    ~Pipe() {
        closeReader();
        ::close(fds_[1]);
    }
    int writer() const { return fds_[1]; }
    void closeReader() {
        if (fds_[0] >= 0) ::close(fds_[0]);
        fds_[0] = -1;
    }
    void setNonBlocking(int fd, bool on) {
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
    }
    // Fills the pipe in PIPE_BUF pieces until it takes no more; gives the bytes written.
    size_t fill() {
        setNonBlocking(writer(), true);
        const std::string piece(PIPE_BUF, 'x');
        size_t total = 0;
        ssize_t written;
        while ((written = ::write(writer(), piece.data(), piece.size())) > 0)
            total += static_cast<size_t>(written);
        EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
        setNonBlocking(writer(), false);
        return total;
    }
    // Reads exactly `count` bytes.
    std::string read(size_t count) {
        std::string got;
        char buffer[8192];
        while (got.size() < count) {
            const ssize_t n = ::read(fds_[0], buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    // Everything readable now.
    std::string readAvailable() {
        std::string got;
        pollfd readable{fds_[0], POLLIN, 0};
        char buffer[8192];
        while (::poll(&readable, 1, 0) == 1 && (readable.revents & POLLIN)) {
            const ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

  private:
    int fds_[2] = {-1, -1};
};

std::string numbered(int i) {
    return "line " + std::to_string(1000 + i) + "\n"; // 10 bytes each
}

std::string joined(int from, int to) {
    std::string lines;
    for (int i = from; i < to; ++i)
        lines += numbered(i);
    return lines;
}

TEST(OutputQueue, WritesLinesInOrderWhileThePipeTakesThem) {
    Pipe pipe;
    OutputQueue queue(pipe.writer());
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(queue.push(numbered(i)));
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    }
    EXPECT_FALSE(queue.pending());
    EXPECT_EQ(pipe.readAvailable(), joined(0, 100));
    EXPECT_EQ(queue.droppedLines(), 0u);
}

TEST(OutputQueue, AFullPipeKeepsTheNewestLinesUpToTheBoundAndReportsOnce) {
    Pipe pipe;
    const size_t filler = pipe.fill();
    OutputQueue queue(pipe.writer(), 100); // room for ten lines
    int reports = 0;
    for (int i = 0; i < 35; ++i) {
        reports += queue.push(numbered(i));
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::waiting) << "a full pipe is not written to";
    }
    EXPECT_EQ(reports, 1) << "one report for the whole overflow";
    EXPECT_EQ(queue.droppedLines(), 25u);
    EXPECT_EQ(pipe.read(filler), std::string(filler, 'x'));
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_EQ(pipe.readAvailable(), joined(25, 35)) << "the newest ten, in order";
}

TEST(OutputQueue, EachOverflowAfterTheQueueRanEmptyIsReportedAgain) {
    Pipe pipe;
    OutputQueue queue(pipe.writer(), 30);
    std::vector<int> reportsPerEpisode;
    for (int episode = 0; episode < 3; ++episode) {
        const size_t filler = pipe.fill();
        int reports = 0;
        for (int i = 0; i < 10; ++i)
            reports += queue.push(numbered(i));
        reportsPerEpisode.push_back(reports);
        pipe.read(filler);
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
        EXPECT_EQ(pipe.readAvailable(), joined(7, 10));
    }
    EXPECT_EQ(reportsPerEpisode, (std::vector<int>{1, 1, 1}));
}

TEST(OutputQueue, ALineLongerThanOneWriteArrivesWhole) {
    Pipe pipe;
    OutputQueue queue(pipe.writer(), 1000, 8);
    const std::string longLine = std::string(50, 'L') + "\n";
    queue.push("short\n");
    queue.push(longLine);
    queue.push("after\n");
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_EQ(pipe.readAvailable(), "short\n" + longLine + "after\n");
}

// A line that has begun to reach the pipe is never dropped: the reader would get half of it.
TEST(OutputQueue, ALineUnderWayIsFinishedWhenOlderLinesAreDropped) {
    Pipe pipe;
    const size_t filler = pipe.fill();
    EXPECT_EQ(pipe.read(PIPE_BUF), std::string(PIPE_BUF, 'x')); // room for one write
    OutputQueue queue(pipe.writer(), 4 * PIPE_BUF);
    const std::string longLine = std::string(2 * PIPE_BUF, 'L') + "\n";
    queue.push(longLine);
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::waiting) << "only its first part fits";
    int reports = 0;
    for (int i = 0; i < 4 * PIPE_BUF / 10; ++i)
        reports += queue.push(numbered(i));
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(pipe.read(filler - PIPE_BUF), std::string(filler - PIPE_BUF, 'x'));
    std::string got;
    while (queue.flush() != OutputQueue::Flush::done)
        got += pipe.readAvailable();
    got += pipe.readAvailable();
    ASSERT_GE(got.size(), longLine.size());
    EXPECT_EQ(got.substr(0, longLine.size()), longLine);
    const std::string rest = got.substr(longLine.size());
    const int last = 4 * PIPE_BUF / 10;
    EXPECT_EQ(rest, joined(last - static_cast<int>(rest.size() / 10), last))
        << "whole lines, the newest, in order";
}

TEST(OutputQueue, AFullNonBlockingPipeMakesLinesWaitNotVanish) {
    Pipe pipe;
    const size_t filler = pipe.fill();
    pipe.setNonBlocking(pipe.writer(), true); // as when another holder shares the descriptor
    OutputQueue queue(pipe.writer());
    for (int i = 0; i < 5; ++i) {
        queue.push(numbered(i));
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::waiting);
    }
    pipe.read(filler);
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_EQ(pipe.readAvailable(), joined(0, 5));
}

TEST(OutputQueue, AClosedReaderIsReportedAsGone) {
    Pipe pipe;
    OutputQueue queue(pipe.writer());
    pipe.closeReader();
    queue.push("speak\n");
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::readerGone);
}

TEST(OutputQueue, AReaderGoneWhileLinesWaitIsReportedAsGone) {
    Pipe pipe;
    pipe.fill();
    OutputQueue queue(pipe.writer());
    queue.push("speak\n");
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::waiting);
    pipe.closeReader();
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::readerGone);
}

TEST(OutputQueue, AClosedDescriptorLosesTheLinesWithoutWaiting) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::close(fds[1]);
    OutputQueue queue(fds[1]);
    queue.push("speak\n");
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_FALSE(queue.pending());
}

// macOS's answer for a terminal, a pty or /dev/null, whatever the descriptor can take.
int answerInvalid(pollfd* fds, nfds_t count, int) {
    for (nfds_t i = 0; i < count; ++i)
        fds[i].revents = POLLNVAL;
    return static_cast<int>(count);
}

bool blocking(int fd) {
    return (::fcntl(fd, F_GETFL) & O_NONBLOCK) == 0;
}

TEST(OutputQueueWithoutPoll, AnOpenDescriptorAnsweringPollnvalGetsItsLinesDirectly) {
    Pipe pipe;
    OutputQueue queue(pipe.writer(), OutputQueue::kDefaultCapacity, 0, answerInvalid);
    for (int i = 0; i < 3; ++i) {
        queue.push(numbered(i));
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    }
    EXPECT_TRUE(queue.writesDirectly());
    EXPECT_EQ(pipe.readAvailable(), joined(0, 3));
    EXPECT_TRUE(blocking(pipe.writer())) << "the shared descriptor keeps its mode";
}

TEST(OutputQueueWithoutPoll, AFullDescriptorMeansNotYetAndTheLinesFollowInOrder) {
    Pipe pipe;
    const size_t filler = pipe.fill();
    OutputQueue queue(pipe.writer(), OutputQueue::kDefaultCapacity, 0, answerInvalid);
    for (int i = 0; i < 5; ++i) {
        queue.push(numbered(i));
        EXPECT_EQ(queue.flush(), OutputQueue::Flush::waiting) << "never blocks on a full pipe";
    }
    EXPECT_TRUE(blocking(pipe.writer()));
    EXPECT_EQ(pipe.read(filler), std::string(filler, 'x'));
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_EQ(pipe.readAvailable(), joined(0, 5));
}

TEST(OutputQueueWithoutPoll, AClosedDescriptorAnsweringPollnvalLosesTheLines) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::close(fds[1]);
    OutputQueue queue(fds[1], OutputQueue::kDefaultCapacity, 0, answerInvalid);
    queue.push("speak\n");
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_FALSE(queue.pending());
}

// A pty in raw mode (no "\r" added), its terminal side written by the queue.
class Pty {
  public:
    Pty() {
        main_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (main_ < 0 || ::grantpt(main_) != 0 || ::unlockpt(main_) != 0) return;
        terminal_ = ::open(::ptsname(main_), O_RDWR | O_NOCTTY);
        termios mode{};
        if (terminal_ >= 0 && ::tcgetattr(terminal_, &mode) == 0) {
            ::cfmakeraw(&mode);
            ::tcsetattr(terminal_, TCSANOW, &mode);
        }
    }
    ~Pty() {
        if (terminal_ >= 0) ::close(terminal_);
        if (main_ >= 0) ::close(main_);
    }
    bool open() const { return terminal_ >= 0; }
    int terminal() const { return terminal_; }
    std::string readAvailable() {
        std::string got;
        pollfd readable{main_, POLLIN, 0};
        char buffer[8192];
        while (::poll(&readable, 1, 100) == 1 && (readable.revents & POLLIN)) {
            const ssize_t n = ::read(main_, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

  private:
    int main_ = -1;
    int terminal_ = -1;
};

TEST(OutputQueueWithoutPoll, APtyIsWrittenDirectlyAndKeepsBlocking) {
    Pty pty;
    if (!pty.open()) GTEST_SKIP() << "no pty can be opened here";
    OutputQueue queue(pty.terminal());
    EXPECT_TRUE(queue.writesDirectly()) << "a character device";
    for (int i = 0; i < 20; ++i)
        queue.push(numbered(i));
    EXPECT_EQ(queue.flush(), OutputQueue::Flush::done);
    EXPECT_EQ(pty.readAvailable(), joined(0, 20));
    EXPECT_TRUE(blocking(pty.terminal()));
}

} // namespace
