// The assistant's system operations on POSIX systems (Linux and macOS). Every call reports
// failure as a value; nothing here throws.
#include "child_spawn.h"
#include "file_operations_posix.h"
#include "rename_flags.h"
#include "system_operations.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string errorText(int error) {
    return std::generic_category().message(error);
}

bool writeAll(int fd, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a new file exclusively, never through a link; -1 when that cannot be done.
int createTemporary(const std::string& directory, const std::string& name, std::string& path) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        path = temporaryLogName(directory, name);
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// A character device or a fifo at the log path is the host's own (/dev/null for "no log", a pipe
// it reads): the line goes into it as it is, without waiting for a reader, and the node is never
// replaced. A directory, a socket or a block device gets nothing.
bool writeInPlace(const std::string& path, mode_t type, const std::string& content) {
    if (!S_ISCHR(type) && !S_ISFIFO(type)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = writeAll(fd, content);
    ::close(fd);
    return written;
}

bool flushDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = ::fsync(fd) == 0;
    ::close(fd);
    return flushed;
}

// The process environment as it is now, kept as strings that the children's envp points into.
class EnvironmentSnapshot {
  public:
    EnvironmentSnapshot() {
        for (char** entry = environ; entry && *entry; ++entry)
            entries_.emplace_back(*entry);
        for (std::string& entry : entries_)
            pointers_.push_back(entry.data());
        pointers_.push_back(nullptr);
    }
    char* const* envp() const { return pointers_.data(); }

  private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};

class PosixOperations final : public InstallOperations {
  public:
    double now() override {
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration<double>(since).count();
    }

    void sleepFor(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

    bool processExists(int32_t pid) override { return ::kill(pid, 0) == 0; }

    bool pathExists(const std::string& path) override {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0;
    }

    bool entryExists(const std::string& path) override {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0;
    }

    ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          bool keepErrorLine) override;
    Creation createDirectory(const std::string& path) override;
    std::optional<std::size_t> longestName(const std::string& directory) override;

    Exchange exchange(const std::string& first, const std::string& second) override {
        const int error = renameWithFlag(first.c_str(), second.c_str(), RenameFlag::exchange);
        if (error == 0) return {Exchange::Outcome::done, {}};
        if (renameFlagUnsupported(error)) return {Exchange::Outcome::unsupported, {}};
        return {Exchange::Outcome::failed, errorText(error)};
    }

    std::optional<std::string> moveNoReplace(const std::string& from,
                                             const std::string& to) override {
        int error = renameWithFlag(from.c_str(), to.c_str(), RenameFlag::noReplace);
        if (renameFlagUnsupported(error)) {
            // Without the flag the test and the rename are two steps; nothing better exists.
            error = entryExists(to) ? EEXIST : (::rename(from.c_str(), to.c_str()) ? errno : 0);
        }
        if (error == 0) return std::nullopt;
        return errorText(error);
    }

    std::optional<std::string> resolvedPath(const std::string& path) override {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved) return std::nullopt;
        std::string text = resolved;
        std::free(resolved);
        return text;
    }

    std::string homeDirectory() override;

    std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) override {
        return ::entriesStartingWith(pathPrefix);
    }

    std::optional<std::string> entryIdentity(const std::string& path) override {
        return ::entryIdentity(path);
    }

    std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) override {
        return ::entryDeviceAndInode(path);
    }

    std::optional<std::string> flushFileSystem(const std::string& path) override {
        const int error = flushTreeToDisk(path.c_str());
        if (error == 0) return std::nullopt;
        return errorText(error);
    }

    void flushDirectoryOf(const std::string& path) override { flushDirectory(parentOf(path)); }

    std::optional<std::string> removeTree(const std::string& path) override {
        return removeTreeForcibly(path);
    }

    void discardEarlierContent(const std::string& path) override;
    bool writeFileDurably(const std::string& path, const std::string& content) override;

  private:
    const EnvironmentSnapshot environment_;
};

// Keeps the start of the first line a child writes to standard error and reads the rest away,
// so that a talkative child never blocks on a full pipe.
class FirstLineReader {
  public:
    static constexpr std::size_t kept = 1024;

    // False once the pipe is at its end (or broken).
    bool readAvailable(int fd) {
        char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(fd, buffer, sizeof buffer);
            if (length < 0 && errno == EINTR) continue;
            if (length < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
            if (length == 0) return false;
            for (ssize_t i = 0; i < length && !complete_; ++i) {
                if (buffer[i] == '\n')
                    complete_ = true;
                else if (line_.size() < kept)
                    line_.push_back(buffer[i]);
            }
        }
    }
    const std::string& line() const { return line_; }

  private:
    std::string line_;
    bool complete_ = false;
};

// Waits for the child; with an error pipe, reads it meanwhile. A child that has ended stops the
// reading even when something it started still holds the pipe open.
int waitReading(pid_t child, int errorPipe, FirstLineReader& reader) {
    int status = 0;
    bool open = errorPipe >= 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, open ? WNOHANG : 0);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return -1;
        if (!open) continue;
        pollfd watch{errorPipe, POLLIN, 0};
        if (::poll(&watch, 1, 100) > 0) open = reader.readAvailable(errorPipe);
    }
    if (open) reader.readAvailable(errorPipe);
    return status;
}

ProgramRun PosixOperations::runProgram(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       bool keepErrorLine) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // Without a pipe to be had, the error line is given up, never the run.
    int errorPipe[2] = {-1, -1};
    if (keepErrorLine && ::pipe(errorPipe) == 0) {
        ::fcntl(errorPipe[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(errorPipe[1], F_SETFD, FD_CLOEXEC);
        ::fcntl(errorPipe[0], F_SETFL, O_NONBLOCK);
    }
    pid_t child = 0;
    const int error = startChildTiedToAssistant(child, program.c_str(), argv.data(),
                                                environment_.envp(), errorPipe[1]);
    if (errorPipe[1] >= 0) ::close(errorPipe[1]);
    FirstLineReader reader;
    const int status = error == 0 ? waitReading(child, errorPipe[0], reader) : 0;
    if (errorPipe[0] >= 0) ::close(errorPipe[0]);
    if (error != 0) return {false, errorText(error), 0, {}};
    if (status < 0) return {true, {}, -1, reader.line()};
    if (WIFSIGNALED(status)) return {true, {}, WTERMSIG(status), reader.line()};
    return {true, {}, WEXITSTATUS(status), reader.line()};
}

Creation PosixOperations::createDirectory(const std::string& path) {
    // mkdir never follows a link at the name, and fails with EEXIST for anything there.
    if (::mkdir(path.c_str(), 0777) == 0) return {Creation::Outcome::created, {}};
    if (errno == EEXIST) return {Creation::Outcome::exists, {}};
    return {Creation::Outcome::failed, errorText(errno)};
}

std::optional<std::size_t> PosixOperations::longestName(const std::string& directory) {
    const long limit = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    if (limit <= 0) return std::nullopt;
    return static_cast<std::size_t>(limit);
}

std::string PosixOperations::homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

// Removed and the removal put on disk, so that not even a crash brings the earlier line back; a
// file that cannot be removed (a folder the user may not change) is emptied instead.
void PosixOperations::discardEarlierContent(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return;
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return;
    if (::unlink(path.c_str()) == 0) {
        flushDirectory(parentOf(path));
        return;
    }
    if (!S_ISREG(info.st_mode)) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    flushFileToDisk(fd);
    ::close(fd);
}

bool PosixOperations::writeFileDurably(const std::string& path, const std::string& content) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return writeInPlace(path, info.st_mode, content);
    const std::string directory = parentOf(path);
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    removeStaleTemporaries(directory, name);

    std::string temporary;
    const int fd = createTemporary(directory, name, temporary);
    if (fd < 0) return false;
    bool written = writeAll(fd, content) && flushFileToDisk(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return flushDirectory(directory);
}

} // namespace

std::unique_ptr<InstallOperations> makeSystemOperations() {
    return std::make_unique<PosixOperations>();
}

void detachFromSession() {
    ::setsid();
}

std::string currentDirectory() {
    std::error_code error;
    std::filesystem::path directory = std::filesystem::current_path(error);
    if (error || directory.empty()) return ".";
    return directory.string();
}
