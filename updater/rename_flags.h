#pragma once
// The platform's renames with flags, and its strongest flush of a file to disk. Each returns 0
// on success or the system's error number.

enum class RenameFlag {
    exchange,  // swap the two names in one step; both must exist
    noReplace, // fail with EEXIST instead of replacing the destination
};

int renameWithFlag(const char* from, const char* to, RenameFlag flag);

// True when the error means that the system or this file system lacks the flag.
bool renameFlagUnsupported(int error);

// Pushes the file's data through the drive's own cache where the system allows it.
int flushFileToDisk(int fd);

// Puts everything written so far to the tree at the path on disk: on Linux the whole file system
// that holds it (syncfs), on macOS every entry of the tree and then the drive's cache.
int flushTreeToDisk(const char* path);
