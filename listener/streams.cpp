#include "streams.h"

#include "direct_write.h"
#include "output_queue.h"

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {

// The lines of the standard output queue; created on first use.
OutputQueue& standardOutput() {
    static OutputQueue queue(STDOUT_FILENO);
    return queue;
}

// The host has gone: keeping the keyboard watched for nobody helps no one.
[[noreturn]] void readerGone() {
    std::_Exit(0);
}

void settle(OutputQueue::Flush outcome) {
    if (outcome == OutputQueue::Flush::readerGone) readerGone();
}

constexpr std::string_view kDropping =
    "standard output is not being read; dropping the oldest lines until it is\n";

} // namespace

void ProcessStreams::out(std::string_view line) {
    OutputQueue& queue = standardOutput();
    if (queue.push(line)) err(kDropping);
    settle(queue.flush());
}

// Written only when standard error can take it at once; a host that does not read its
// diagnostics loses them rather than the keyboard. A device, which macOS's poll() cannot watch,
// is written directly without blocking.
void ProcessStreams::err(std::string_view line) {
    static const bool device = isCharacterDevice(STDERR_FILENO);
    if (!device) {
        pollfd ready{STDERR_FILENO, POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1) return;
        const bool unwatchable = (ready.revents & POLLNVAL) && isOpenDescriptor(STDERR_FILENO);
        if (!(ready.revents & POLLOUT) && !unwatchable) return;
        if (!unwatchable) {
            ssize_t written;
            do {
                written = ::write(STDERR_FILENO, line.data(), line.size());
            } while (written < 0 && errno == EINTR);
            return;
        }
    }
    // The rest of a line that went out in part follows while the device takes it.
    while (!line.empty()) {
        const ssize_t written = writeWithoutBlocking(STDERR_FILENO, line.data(), line.size());
        if (written <= 0) return;
        line.remove_prefix(static_cast<size_t>(written));
    }
}

OutputWatch ProcessStreams::watch() const {
    const OutputQueue& queue = standardOutput();
    // poll() skips a negative descriptor.
    if (unwatched_) return {-1, 0};
    return {queue.fd(), static_cast<short>(queue.pending() ? POLLOUT : 0)};
}

void ProcessStreams::ready(short revents) {
    if (revents & (POLLERR | POLLHUP)) readerGone();
    // Closed, or a device poll() cannot watch (macOS): either way, no longer watched. Lines
    // for a device are written directly from now on, and retried at the next line.
    if (revents & POLLNVAL) {
        unwatched_ = true;
        settle(standardOutput().flush());
    }
    if (revents & POLLOUT) settle(standardOutput().flush());
}

void ProcessStreams::drain() {
    OutputQueue& queue = standardOutput();
    settle(queue.flush());
    while (queue.pending()) {
        pollfd waiting{queue.fd(), POLLOUT, 0};
        if (queue.writesDirectly()) {
            // A device that cannot be watched: try again shortly.
            ::poll(nullptr, 0, 10);
        } else if (::poll(&waiting, 1, -1) < 0 && errno != EINTR) {
            return;
        }
        settle(queue.flush());
    }
}

ProcessStreams& processStreams() {
    static ProcessStreams instance;
    return instance;
}
