#include "e2e_support.h"
#include "temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
extern char** environ;

namespace {
constexpr uid_t unprivilegedId = 65534;
}

Child Child::start(const std::vector<std::string>& args, const std::string& workingDirectory,
                   const std::map<std::string, std::string>& variables, bool unprivileged) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    merged.erase("DISPLAY");
    merged.erase("WAYLAND_DISPLAY");
    // The toolkit behind the platform card keeps allocations to the end of the process, which the
    // leak checker of sanitizer builds would report; the assistant's own code has none.
    std::string& sanitizer = merged["ASAN_OPTIONS"];
    sanitizer += sanitizer.empty() ? "detect_leaks=0" : ":detect_leaks=0";
    for (const auto& [name, value] : variables)
        merged[name] = value;
    std::vector<std::string> environment;
    for (const auto& [name, value] : merged)
        environment.push_back(name + "=" + value);
    // Everything the child needs is ready before fork: it only changes directory and execs.
    std::vector<char*> argv, envp;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    const bool dropRoot = unprivileged && geteuid() == 0;
    if (pid == 0) {
        if (dropRoot && (setgroups(0, nullptr) != 0 || setgid(unprivilegedId) != 0 ||
                         setuid(unprivilegedId) != 0))
            _exit(126);
        if (chdir(workingDirectory.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    return Child(pid);
}

bool unprivilegedCanRun(const std::string& program) {
    if (geteuid() != 0) return true;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(unprivilegedId) != 0 ||
            setuid(unprivilegedId) != 0)
            _exit(2);
        _exit(access(program.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Child::Child(Child&& other) noexcept : pid_(other.pid_) {
    other.pid_ = -1;
}

Child::~Child() {
    if (pid_ > 0) {
        killGroup();
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

std::optional<int> Child::wait(double limitSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limitSeconds);
    while (pid_ > 0) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() > end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

void Child::killGroup() {
    if (pid_ <= 0) return;
    // After setsid the program leads its own group, which holds its child programs too.
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
}

void makeBundle(const std::string& path, const std::string& version, std::size_t binaryBytes,
                int resourceFiles) {
    writeText(path + "/Contents/Info.plist", "<plist><string>" + version + "</string></plist>\n");
    std::string binary(binaryBytes, '\0');
    uint64_t state = std::hash<std::string>{}(version) | 1;
    for (char& byte : binary) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        byte = static_cast<char>(state);
    }
    writeText(path + "/Contents/MacOS/Orlavo", binary);
    for (int i = 0; i < resourceFiles; ++i)
        writeText(path + "/Contents/Resources/r" + std::to_string(i) + ".txt",
                  version + " resource " + std::to_string(i) + "\n");
    fs::create_symlink("Resources", path + "/Contents/Current");
}

namespace {

void digestBytes(uint64_t& digest, std::string_view bytes) {
    digest = (digest ^ std::hash<std::string_view>{}(bytes)) * 1099511628211ull;
}

} // namespace

std::string treeDigest(const std::string& path) {
    std::error_code error;
    const fs::file_status top = fs::symlink_status(path, error);
    if (error || !fs::exists(top)) return "";
    std::vector<fs::path> entries = {path};
    if (fs::is_directory(top))
        for (const auto& entry : fs::recursive_directory_iterator(path))
            entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    uint64_t digest = 14695981039346656037ull;
    for (const fs::path& entry : entries) {
        digestBytes(digest, fs::relative(entry, path).string() + '\0');
        const fs::file_status status = fs::symlink_status(entry);
        digestBytes(digest, std::to_string(static_cast<int>(status.type())) + '\0');
        if (fs::is_symlink(status))
            digestBytes(digest, fs::read_symlink(entry).string());
        else if (fs::is_regular_file(status))
            digestBytes(digest, readText(entry.string()));
    }
    return std::to_string(entries.size()) + ":" + std::to_string(digest);
}

std::string treeManifest(const std::string& path) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) return "";
    std::vector<fs::path> entries = {path};
    if (fs::is_directory(fs::symlink_status(path)))
        for (const auto& entry : fs::recursive_directory_iterator(path))
            entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    std::map<std::pair<dev_t, ino_t>, std::string> firstOfInode;
    std::ostringstream manifest;
    for (const fs::path& entry : entries) {
        struct stat info {};
        if (lstat(entry.c_str(), &info) != 0) continue;
        const std::string relative = fs::relative(entry, path).string();
        manifest << relative << ' ';
        switch (info.st_mode & S_IFMT) {
        case S_IFDIR:
            manifest << "dir";
            break;
        case S_IFLNK:
            manifest << "link " << fs::read_symlink(entry).string();
            break;
        case S_IFIFO:
            manifest << "fifo";
            break;
        case S_IFREG: {
            uint64_t digest = 14695981039346656037ull;
            digestBytes(digest, readText(entry.string()));
            manifest << "file " << info.st_size << ' ' << std::hex << digest << std::dec;
            if (info.st_nlink > 1) {
                const auto [found, added] =
                    firstOfInode.try_emplace({info.st_dev, info.st_ino}, relative);
                manifest << " linked-with " << found->second;
            }
            break;
        }
        default:
            manifest << "other";
            break;
        }
        manifest << ' ' << std::oct << (info.st_mode & 07777) << std::dec << '\n';
    }
    return manifest.str();
}

void handToUnprivilegedUser(const std::string& path) {
    if (!runningAsRoot()) return;
    lchown(path.c_str(), unprivilegedId, unprivilegedId);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        lchown(entry.path().c_str(), unprivilegedId, unprivilegedId);
}

bool runningAsRoot() {
    return geteuid() == 0;
}

std::vector<std::string> listNames(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> namesStartingWith(const std::string& directory,
                                           const std::string& prefix) {
    std::vector<std::string> names = listNames(directory);
    std::erase_if(names, [&](const std::string& name) { return !name.starts_with(prefix); });
    return names;
}

bool waitForFile(const std::string& path, double limitSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limitSeconds);
    std::error_code error;
    while (!fs::exists(fs::symlink_status(path, error))) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

double secondsSinceEpoch() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::string inodeOf(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return "";
    return std::to_string(static_cast<unsigned long long>(info.st_ino));
}

// The recovery procedure of the host's guide (docs/host-integration.md), step by step.
void recoverAsTheGuideSays(const std::string& target) {
    const std::string directory = fs::path(target).parent_path().string();
    const std::string name = fs::path(target).filename().string();
    // 1. The staging copy only ever holds the new version, whole or in part: remove it, once
    //    more when a copy program that was ending at that moment wrote into it meanwhile.
    std::error_code error;
    if (fs::remove_all(target + ".update-new", error) == static_cast<std::uintmax_t>(-1))
        fs::remove_all(target + ".update-new");
    // 2. A ready copy holds a whole version; its name tells which one.
    for (const std::string& ready : namesStartingWith(directory, name + ".update-ready-")) {
        const std::string path = directory + "/" + ready;
        const std::string identity =
            ready.substr(name.size() + std::string(".update-ready-").size());
        if (!present(target)) {
            fs::rename(path, target); // the new version, between the two renames of the fallback
        } else if (inodeOf(path) == identity) {
            fs::remove_all(path); // the new version, never swapped in: the target is untouched
        } else {
            // The installed version, after the exchange: keep it as a previous copy, under a
            // second that no other previous copy uses.
            auto seconds = static_cast<long long>(std::floor(secondsSinceEpoch())) - 1;
            while (present(target + ".update-previous-" + std::to_string(seconds)))
                --seconds;
            fs::rename(path, target + ".update-previous-" + std::to_string(seconds));
        }
    }
    // 3. A target still missing gets the newest previous copy back.
    if (!present(target)) {
        std::vector<std::string> previous =
            namesStartingWith(directory, name + ".update-previous-");
        std::sort(previous.begin(), previous.end(),
                  [&](const std::string& a, const std::string& b) {
                      return std::stoll(a.substr(a.rfind('-') + 1)) <
                             std::stoll(b.substr(b.rfind('-') + 1));
                  });
        if (!previous.empty()) fs::rename(directory + "/" + previous.back(), target);
    }
}
