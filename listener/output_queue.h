#pragma once
// Protocol lines on their way to a pipe whose reader may be slow or gone. Lines wait in a
// bounded queue and are written only while poll() says the descriptor can take them, each
// write at most PIPE_BUF bytes of whole lines, so a write on a pipe never blocks and never
// tears a line. A character device, or a descriptor for which poll() answers POLLNVAL (macOS
// answers so for every device), is written directly without blocking instead; EAGAIN there
// means "not yet". When a new line does not fit, the oldest lines not yet begun are dropped:
// a stale line is worth less than a fresh one.

#include <cstddef>
#include <poll.h>
#include <string>
#include <string_view>

class OutputQueue {
  public:
    enum class Flush {
        done,       // nothing waits any more
        waiting,    // lines wait until the descriptor can take more
        readerGone, // the reader has closed its end (EPIPE, hang-up or error)
    };

    static constexpr size_t kDefaultCapacity = 64 * 1024;

    // How the queue asks whether the descriptor can take more: ::poll, or a test's stand-in.
    using PollFunction = int (*)(pollfd*, nfds_t, int);

    // capacity: the most bytes that may wait. writeLimit: the most bytes per write
    // (PIPE_BUF unless a test asks for less).
    explicit OutputQueue(int fd, size_t capacity = kDefaultCapacity, size_t writeLimit = 0,
                         PollFunction poll = ::poll);

    // Queues one line (ending in "\n"); it is written by the next flush(). True when older
    // lines had to be dropped for it and this is the first drop since the queue last ran
    // empty: the caller then writes one diagnostic for the whole overflow.
    bool push(std::string_view line);

    // Writes what the descriptor takes without blocking.
    Flush flush();

    bool pending() const { return head_ < bytes_.size(); }
    int fd() const { return fd_; }
    size_t droppedLines() const { return dropped_; }
    // Written without asking poll(): a character device, or poll() answered POLLNVAL for it.
    bool writesDirectly() const { return direct_; }

  private:
    size_t dropOldest();
    size_t chunkSize() const;
    void compact();
    void discard();
    ssize_t writeChunk();

    int fd_;
    size_t capacity_;
    size_t writeLimit_;
    PollFunction poll_;
    bool direct_;
    std::string bytes_; // [head_, size) waits; the line at head_ may be partly written
    size_t head_ = 0;
    bool begun_ = false; // the line at head_ is partly written
    size_t dropped_ = 0;
    bool overflowing_ = false;
};
