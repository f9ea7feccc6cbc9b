// Linux: renameat2 flags and fsync.
#include "rename_flags.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int renameWithFlag(const char* from, const char* to, RenameFlag flag) {
    const unsigned flags = flag == RenameFlag::exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags) == 0 ? 0 : errno;
}

// EINVAL: the file system does not implement the flag; ENOSYS: the kernel has no renameat2.
bool renameFlagUnsupported(int error) {
    return error == EINVAL || error == ENOSYS;
}

int flushFileToDisk(int fd) {
    return fsync(fd) == 0 ? 0 : errno;
}

// One syncfs covers every file the copy program wrote, far cheaper than an fsync per file; it
// a write-back error of that file system is reported.
int flushTreeToDisk(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno;
    const int error = syncfs(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}
