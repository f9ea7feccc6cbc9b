#include "output_queue.h"

#include "direct_write.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <unistd.h>

OutputQueue::OutputQueue(int fd, size_t capacity, size_t writeLimit, PollFunction poll)
    : fd_(fd), capacity_(capacity), writeLimit_(writeLimit ? writeLimit : PIPE_BUF), poll_(poll),
      direct_(isCharacterDevice(fd)) {
    // Appends and compactions stay within this, so queuing never reaches the heap again.
    bytes_.reserve(2 * capacity_);
}

bool OutputQueue::push(std::string_view line) {
    if (line.size() > capacity_) {
        ++dropped_;
        const bool first = !overflowing_;
        overflowing_ = true;
        return first;
    }
    bool droppedNow = false;
    while (bytes_.size() - head_ + line.size() > capacity_) {
        if (dropOldest() == 0) break;
        droppedNow = true;
    }
    if (bytes_.size() + line.size() > bytes_.capacity()) compact();
    bytes_.append(line);
    const bool first = droppedNow && !overflowing_;
    overflowing_ = overflowing_ || droppedNow;
    return first;
}

// Drops the oldest line that has not begun to be written; gives the bytes dropped.
size_t OutputQueue::dropOldest() {
    size_t start = head_;
    if (begun_) {
        // The line under way must reach the reader whole; the one after it goes.
        const size_t end = bytes_.find('\n', head_);
        if (end == std::string::npos) return 0;
        start = end + 1;
    }
    if (start >= bytes_.size()) return 0;
    size_t end = bytes_.find('\n', start);
    end = end == std::string::npos ? bytes_.size() : end + 1;
    if (start == head_) {
        head_ = end;
    } else {
        bytes_.erase(start, end - start);
    }
    ++dropped_;
    return end - start;
}

// The bytes of the next write: whole lines up to the write limit, or, when the first line is
// longer than that, as much of it as the limit allows.
size_t OutputQueue::chunkSize() const {
    const size_t waiting = bytes_.size() - head_;
    if (waiting <= writeLimit_) return waiting;
    const size_t lastBreak = bytes_.rfind('\n', head_ + writeLimit_ - 1);
    if (lastBreak == std::string::npos || lastBreak < head_) return writeLimit_;
    return lastBreak + 1 - head_;
}

void OutputQueue::discard() {
    bytes_.clear();
    head_ = 0;
    begun_ = false;
}

void OutputQueue::compact() {
    bytes_.erase(0, head_);
    head_ = 0;
}

// One write of the next chunk: directly and without blocking for a descriptor poll() cannot
// watch, else a plain write, which poll() has just said will not block.
ssize_t OutputQueue::writeChunk() {
    if (direct_) return writeWithoutBlocking(fd_, bytes_.data() + head_, chunkSize());
    return ::write(fd_, bytes_.data() + head_, chunkSize());
}

OutputQueue::Flush OutputQueue::flush() {
    if (fd_ < 0) discard();
    while (pending()) {
        if (!direct_) {
            pollfd ready{fd_, POLLOUT, 0};
            const int polled = poll_(&ready, 1, 0);
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) return Flush::waiting;
            if (ready.revents & (POLLERR | POLLHUP)) return Flush::readerGone;
            if (ready.revents & POLLNVAL) {
                // No descriptor to write to: the lines cannot reach anyone.
                if (!isOpenDescriptor(fd_)) {
                    discard();
                    break;
                }
                // Open, but a device poll() cannot watch: write to it directly from now on.
                direct_ = true;
                continue;
            }
            if (!(ready.revents & POLLOUT)) return Flush::waiting;
        }
        const ssize_t written = writeChunk();
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Flush::waiting;
            if (errno == EPIPE) return Flush::readerGone;
            // A terminal whose other side has gone answers EIO.
            if (direct_ && errno == EIO) return Flush::readerGone;
            // Any other failure will not heal by waiting: what waits is lost.
            discard();
            break;
        }
        head_ += static_cast<size_t>(written);
        begun_ = bytes_[head_ - 1] != '\n';
    }
    compact();
    overflowing_ = false;
    return Flush::done;
}
