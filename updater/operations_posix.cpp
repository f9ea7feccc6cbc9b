// The assistant's system operations on POSIX systems (Linux and macOS). Every call reports
// failure as a value; nothing here throws.
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
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
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

    ProgramRun runProgram(const std::string& program,
                          const std::vector<std::string>& arguments) override;

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

    std::optional<std::string> flushFileSystem(const std::string& path) override {
        const int error = flushTreeToDisk(path.c_str());
        if (error == 0) return std::nullopt;
        return errorText(error);
    }

    void flushDirectoryOf(const std::string& path) override { flushDirectory(parentOf(path)); }

    std::optional<std::string> removeTree(const std::string& path) override {
        return removeTreeForcibly(path);
    }

    bool writeFileDurably(const std::string& path, const std::string& content) override;

  private:
    const EnvironmentSnapshot environment_;
};

// /dev/null as standard input, output and error, and no blocked signals: a child neither reads
// the assistant's input nor writes to its streams.
class ChildSetup {
  public:
    ChildSetup() {
        ready_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        if (!ready_) return;
        ready_ = ::posix_spawnattr_init(&attributes_) == 0;
        if (!ready_) {
            ::posix_spawn_file_actions_destroy(&actions_);
            return;
        }
        sigset_t none;
        sigemptyset(&none);
        error_ = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        if (!error_)
            error_ = ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
        if (!error_)
            error_ = ::posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
        if (!error_) error_ = ::posix_spawnattr_setsigmask(&attributes_, &none);
        if (!error_) error_ = ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK);
    }
    ~ChildSetup() {
        if (!ready_) return;
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    ChildSetup(const ChildSetup&) = delete;
    ChildSetup& operator=(const ChildSetup&) = delete;

    // 0 when the child can be started this way, else the error.
    int error() const { return ready_ ? error_ : ENOMEM; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool ready_ = false;
    int error_ = 0;
};

ProgramRun PosixOperations::runProgram(const std::string& program,
                                       const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const ChildSetup setup;
    if (setup.error() != 0) return {false, errorText(setup.error()), 0};
    pid_t child = 0;
    const int error = ::posix_spawn(&child, program.c_str(), setup.actions(), setup.attributes(),
                                    argv.data(), environment_.envp());
    if (error != 0) return {false, errorText(error), 0};
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return {true, {}, -1};
    }
    if (WIFSIGNALED(status)) return {true, {}, WTERMSIG(status)};
    return {true, {}, WEXITSTATUS(status)};
}

std::string PosixOperations::homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

bool PosixOperations::writeFileDurably(const std::string& path, const std::string& content) {
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
