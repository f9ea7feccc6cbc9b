#pragma once
// Where the listener's protocol lines and diagnostics go.

#include <string_view>

// What an event loop watches for the protocol lines: the descriptor, and the poll() events to
// ask for on it (POLLOUT while lines wait). Hang-up and error are always reported by poll().
// A negative descriptor means nothing to watch.
struct OutputWatch {
    int fd;
    short events;
};

class Streams {
  public:
    virtual ~Streams() = default;
    // One protocol line. Never blocks: it may wait in a queue until the reader takes it.
    virtual void out(std::string_view line) = 0;
    // One diagnostic line. Never blocks; failures are ignored.
    virtual void err(std::string_view line) = 0;
    virtual OutputWatch watch() const { return {-1, 0}; }
    // Handles what poll() reported for the watched descriptor.
    virtual void ready(short /*revents*/) {}
};

// Standard output through a bounded queue (see OutputQueue), and standard error. When the
// reader of standard output is gone (EPIPE, hang-up or error), the process exits with status
// 0: nobody is listening any more.
class ProcessStreams final : public Streams {
  public:
    void out(std::string_view line) override;
    void err(std::string_view line) override;

    OutputWatch watch() const override;
    void ready(short revents) override;
    // Waits until every queued line is written; for the ends of runs that hold no keys.
    void drain();

  private:
    // poll() answered POLLNVAL: standard output is closed, or a device poll() cannot watch.
    bool unwatched_ = false;
};

ProcessStreams& processStreams();
