// macOS: renamex_np flags and F_FULLFSYNC.
#include "flush_tree_posix.h"
#include "rename_flags.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int renameWithFlag(const char* from, const char* to, RenameFlag flag) {
    const unsigned flags = flag == RenameFlag::exchange ? RENAME_SWAP : RENAME_EXCL;
    return renamex_np(from, to, flags) == 0 ? 0 : errno;
}

// ENOTSUP alone says the volume does not implement the flag. EINVAL is a real failure (in a
// swap, for instance, the new name is a parent folder of the old one): taken for
// "unsupported" it would send the update down the two-rename fallback.
bool renameFlagUnsupported(int error) {
    return error == ENOTSUP;
}

// F_FULLFSYNC asks the drive to empty its cache too; some file systems refuse it, and then an
// ordinary fsync is the best that can be had.
int flushFileToDisk(int fd) {
    if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
    return fsync(fd) == 0 ? 0 : errno;
}

// macOS has no flush of one volume that waits for the data: every file and folder of the tree
// goes to the drive with fsync, then F_FULLFSYNC asks the drive to write all it has buffered.
int flushTreeToDisk(const char* path) {
    if (const int error = flushEveryEntry(path)) return error;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = flushFileToDisk(fd);
    close(fd);
    return error;
}
