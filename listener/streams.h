#pragma once
// Where the listener's protocol lines and diagnostics go.

#include <string_view>

class Streams {
  public:
    virtual ~Streams() = default;
    // One protocol line, written whole in one write.
    virtual void out(std::string_view line) = 0;
    // One diagnostic line. Failures are ignored.
    virtual void err(std::string_view line) = 0;
};

// Standard output and standard error. When the reader of standard output is gone (EPIPE),
// the process exits with status 0: nobody is listening any more.
Streams& processStreams();

// The streams every recognizer writes to; processStreams() unless a test replaced them.
extern Streams* streams;
