#include "streams.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

// Writes the whole line with one successful write; retries only when interrupted.
ssize_t writeOnce(int fd, std::string_view line) {
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written;
}

class ProcessStreams final : public Streams {
  public:
    void out(std::string_view line) override {
        if (writeOnce(STDOUT_FILENO, line) < 0 && errno == EPIPE) {
            // The host has gone: keeping the keyboard watched for nobody helps no one.
            std::_Exit(0);
        }
    }
    void err(std::string_view line) override { (void)writeOnce(STDERR_FILENO, line); }
};

} // namespace

Streams& processStreams() {
    static ProcessStreams instance;
    return instance;
}

Streams* streams = &processStreams();
