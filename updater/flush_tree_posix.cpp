#include "flush_tree_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool holdsData(mode_t mode) {
    return S_ISREG(mode) || S_ISDIR(mode);
}

int flushEntry(const char* path, const struct stat* info, int kind, struct FTW*) {
    if ((kind != FTW_F && kind != FTW_D) || !holdsData(info->st_mode)) return 0;
    // Non-blocking, and checked again once open: an entry swapped for a fifo meanwhile must not
    // stop the walk.
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES ? 0 : errno;
    struct stat opened {};
    int error = ::fstat(fd, &opened) == 0 ? 0 : errno;
    if (!error && holdsData(opened.st_mode) && ::fsync(fd) != 0) error = errno;
    ::close(fd);
    return error;
}

} // namespace

int flushEveryEntry(const char* path) {
    const int walked = ::nftw(path, flushEntry, 32, FTW_PHYS);
    return walked == 0 ? 0 : walked > 0 ? walked : errno;
}
