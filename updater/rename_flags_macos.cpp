// macOS: renamex_np flags and F_FULLFSYNC.
#include "rename_flags.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int renameWithFlag(const char* from, const char* to, RenameFlag flag) {
    const unsigned flags = flag == RenameFlag::exchange ? RENAME_SWAP : RENAME_EXCL;
    return renamex_np(from, to, flags) == 0 ? 0 : errno;
}

// ENOTSUP: the volume does not implement the flag.
bool renameFlagUnsupported(int error) {
    return error == ENOTSUP || error == EINVAL;
}

// F_FULLFSYNC asks the drive to empty its cache too; some file systems refuse it, and then an
// ordinary fsync is the best that can be had.
int flushFileToDisk(int fd) {
    if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
    return fsync(fd) == 0 ? 0 : errno;
}
