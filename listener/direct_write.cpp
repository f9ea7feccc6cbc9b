#include "direct_write.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ssize_t writeRetryingInterrupts(int fd, const char* data, size_t size) {
    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written;
}

// A terminal opened again by its name, non-blocking, so that the shared description (a
// Terminal window's shell uses it too) never changes mode. -1 when that is not possible.
int openTerminalWithoutBlocking(int fd) {
    if (!::isatty(fd)) return -1;
    char name[PATH_MAX];
    if (::ttyname_r(fd, name, sizeof name) != 0) return -1;
    const int own = ::open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own < 0) return -1;
    struct stat shared {
    }, opened{};
    if (::fstat(fd, &shared) != 0 || ::fstat(own, &opened) != 0 ||
        shared.st_rdev != opened.st_rdev) {
        ::close(own);
        return -1;
    }
    return own;
}

} // namespace

bool isCharacterDevice(int fd) {
    struct stat status {};
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode);
}

bool isOpenDescriptor(int fd) {
    return fd >= 0 && ::fcntl(fd, F_GETFL) != -1;
}

ssize_t writeWithoutBlocking(int fd, const char* data, size_t size) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1) return -1;
    if (flags & O_NONBLOCK) return writeRetryingInterrupts(fd, data, size);
    const int own = openTerminalWithoutBlocking(fd);
    if (own >= 0) {
        const ssize_t written = writeRetryingInterrupts(own, data, size);
        const int error = errno;
        ::close(own);
        errno = error;
        return written;
    }
    // Not a terminal: non-blocking for this one write only, then as it was.
    if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) return -1;
    const ssize_t written = writeRetryingInterrupts(fd, data, size);
    const int error = errno;
    ::fcntl(fd, F_SETFL, flags);
    errno = error;
    return written;
}
