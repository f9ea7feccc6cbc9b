#pragma once
// What the install procedure needs of the system: the clock, the host's liveness, file names,
// child programs and the log file. Every operation reports failure as a value and never throws.
// Error texts are the system's own (for instance "No such file or directory").

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How a child program ended, or why it never started.
struct ProgramRun {
    bool started = false;
    std::string startError; // the system's error text when not started
    int32_t exitStatus = 0; // the exit status, or the signal number when a signal ended it
    std::string errorLine;  // when asked for: the start of the first line it wrote to standard
                            // error (at most 1024 bytes, without the line feed)
};

// The result of making a directory that must not exist yet.
struct Creation {
    enum class Outcome { created, exists, failed };
    Outcome outcome = Outcome::failed;
    std::string error; // the system's error text when failed
};

// Where an entry is stored: its device and inode. Another entry put at the same name (a rename
// or an exchange) has another pair.
struct DeviceAndInode {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const DeviceAndInode&) const = default;
};

// The result of exchanging two names in one step.
struct Exchange {
    enum class Outcome { done, unsupported, failed };
    Outcome outcome = Outcome::failed;
    std::string error; // the system's error text when failed
};

class InstallOperations {
  public:
    virtual ~InstallOperations() = default;
    // Wall-clock time in seconds since 1970-01-01 00:00:00 UTC.
    virtual double now() = 0;
    // Blocks the calling thread.
    virtual void sleepFor(double seconds) = 0;
    // True while a process with this id exists and may be signalled (signal 0 succeeds).
    virtual bool processExists(int32_t pid) = 0;
    // True when a file or directory is reachable at the path, following symbolic links.
    virtual bool pathExists(const std::string& path) = 0;
    // True when anything has this name, a dangling symbolic link included.
    virtual bool entryExists(const std::string& path) = 0;
    // Starts the program without a shell, each argument as one entry, and waits for its exit.
    // The program never outlives the assistant. With keepErrorLine its standard error is read
    // and the start of its first line kept; otherwise it goes to /dev/null.
    virtual ProgramRun runProgram(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  bool keepErrorLine) = 0;
    // Makes a directory, never through a link and never taking over one that exists (anything
    // at the name, a dangling link included, gives exists): of two callers only one creates it.
    virtual Creation createDirectory(const std::string& path) = 0;
    // The longest name an entry of the directory may have, in bytes; nothing when unknown.
    virtual std::optional<std::size_t> longestName(const std::string& directory) = 0;
    // Exchanges the two names atomically; both must exist.
    virtual Exchange exchange(const std::string& first, const std::string& second) = 0;
    // Renames, never replacing what is at the destination. Nothing on success, else the error.
    virtual std::optional<std::string> moveNoReplace(const std::string& from,
                                                     const std::string& to) = 0;
    // The path with every link, "." and ".." resolved; nothing when it cannot be resolved.
    virtual std::optional<std::string> resolvedPath(const std::string& path) = 0;
    // The user's home folder; "" when unknown.
    virtual std::string homeDirectory() = 0;
    // Every entry whose path begins with the prefix (the prefix's last component is matched
    // against the names of its directory), dangling links included.
    virtual std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) = 0;
    // What stays the same of an entry through renames and exchanges (its inode number, in
    // decimal); nothing when there is no entry.
    virtual std::optional<std::string> entryIdentity(const std::string& path) = 0;
    // The device and inode of the entry at the path, without following a link; nothing when
    // there is no entry.
    virtual std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) = 0;
    // Puts everything written so far on the file system that holds the path on disk (the
    // drive's own cache included where the system allows). Nothing on success, else the error.
    virtual std::optional<std::string> flushFileSystem(const std::string& path) = 0;
    // Puts the names in the directory that holds the path on disk; a failure is not reported.
    virtual void flushDirectoryOf(const std::string& path) = 0;
    // Removes the entry and, for a directory, its whole tree; links are removed, not followed.
    // Directories are made writable by their owner first, so read-only ones are no obstacle.
    // Nothing when nothing remains, else the error that stopped it.
    virtual std::optional<std::string> removeTree(const std::string& path) = 0;
    // Makes sure an earlier content of the file cannot be read as current: a regular file or a
    // link at the path is removed (a file that cannot be removed is emptied); any other kind of
    // entry (a device, a fifo) is left as it is.
    virtual void discardEarlierContent(const std::string& path) = 0;
    // Replaces the file's content in one step that survives a crash or power loss; false when
    // nothing could be written (no temporary file then remains). Temporary files of this log
    // left by a process that no longer runs are removed first. A character device or a fifo at
    // the path is written in place, without waiting for a reader, and never replaced; other
    // entries that are not regular files or links (a directory, a socket) get nothing.
    virtual bool writeFileDurably(const std::string& path, const std::string& content) = 0;
};
