#include "file_operations_posix.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::string failedRemoval(const std::string& path, int error) {
    return "Could not remove \u201c" + path + "\u201d: " + std::generic_category().message(error);
}

// The names in a directory apart from "." and ".."; nothing when it cannot be read.
std::optional<std::vector<std::string>> namesIn(const std::string& directory) {
    DIR* stream = ::opendir(directory.c_str());
    if (!stream) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(stream);
    return names;
}

// "." + the log's name (cut to keep within the usual 255-byte limit) + ".tmp-".
// Appended piece by piece: GCC 12 warns (-Wrestrict, falsely) on "." + std::string at -O3.
std::string temporaryPrefix(const std::string& name) {
    std::string prefix = ".";
    prefix.append(name, 0, 200).append(".tmp-");
    return prefix;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A temporary's suffix is "PID-UNIQUE"; older builds wrote "UNIQUE" alone, with no process to
// ask. True when no running process can still be writing it.
bool abandoned(const std::string& suffix) {
    const std::size_t dash = suffix.find('-');
    if (dash == std::string::npos) return allDigits(suffix);
    const std::string pid = suffix.substr(0, dash);
    if (!allDigits(pid) || !allDigits(suffix.substr(dash + 1)) || pid.size() > 9) return false;
    const pid_t process = static_cast<pid_t>(std::stol(pid));
    if (process == ::getpid()) return false;
    return ::kill(process, 0) != 0 && errno == ESRCH;
}

} // namespace

std::optional<std::string> removeTreeForcibly(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(failedRemoval(path, errno));
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
        return failedRemoval(path, errno);
    }
    if ((info.st_mode & S_IRWXU) != S_IRWXU &&
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU) != 0)
        return failedRemoval(path, errno);
    const std::optional<std::vector<std::string>> names = namesIn(path);
    if (!names) return failedRemoval(path, errno);
    std::optional<std::string> firstError;
    for (const std::string& name : *names) {
        std::optional<std::string> error = removeTreeForcibly(path + "/" + name);
        if (error && !firstError) firstError = std::move(error);
    }
    if (firstError) return firstError;
    if (::rmdir(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
    return failedRemoval(path, errno);
}

std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) {
    const std::size_t slash = pathPrefix.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : pathPrefix.substr(0, slash));
    const std::string namePrefix =
        slash == std::string::npos ? pathPrefix : pathPrefix.substr(slash + 1);
    std::vector<std::string> found;
    for (const std::string& name : namesIn(directory).value_or(std::vector<std::string>{}))
        if (name.starts_with(namePrefix))
            found.push_back(directory == "/" ? "/" + name : directory + "/" + name);
    return found;
}

std::optional<std::string> entryIdentity(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return std::to_string(static_cast<unsigned long long>(info.st_ino));
}

std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return DeviceAndInode{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

std::string temporaryLogName(const std::string& directory, const std::string& name) {
    static std::atomic<unsigned long long> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    const unsigned long long unique =
        (static_cast<unsigned long long>(ticks) * 1000003u) ^ counter.fetch_add(1);
    return directory + "/" + temporaryPrefix(name) + std::to_string(::getpid()) + "-" +
           std::to_string(unique);
}

void removeStaleTemporaries(const std::string& directory, const std::string& name) {
    const std::string prefix = temporaryPrefix(name);
    for (const std::string& entry : namesIn(directory).value_or(std::vector<std::string>{})) {
        if (!entry.starts_with(prefix) || !abandoned(entry.substr(prefix.size()))) continue;
        const std::string path = directory + "/" + entry;
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
    }
}
