#pragma once
// Running the built update-assistant on real directories: start and wait, bundles, tree
// digests and directory listings.

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A started program. The destructor kills its process group if it is still running.
class Child {
  public:
    // Starts program with args (program path first) in the working directory, with the test's
    // environment minus any display, plus the given variables. Aborts the test on failure.
    // With unprivileged set, a root test runs the program as the user "nobody" (65534), since
    // root ignores the permissions that some cases are about; any other user runs as itself.
    static Child start(const std::vector<std::string>& args, const std::string& workingDirectory,
                       const std::map<std::string, std::string>& variables = {},
                       bool unprivileged = false);
    Child(Child&& other) noexcept;
    Child& operator=(Child&&) = delete;
    ~Child();

    pid_t pid() const { return pid_; }
    // Waits for the exit; the exit status, 128 + signal, or nothing after the time limit (the
    // process group is then killed).
    std::optional<int> wait(double limitSeconds = 60.0);
    // Ends the process and everything it started at once.
    void killGroup();

  private:
    explicit Child(pid_t pid) : pid_(pid) {}
    pid_t pid_;
};

// A bundle: Contents/Info.plist naming the version, a binary of the given size, resource
// files and a symbolic link, like an application bundle.
void makeBundle(const std::string& path, const std::string& version, std::size_t binaryBytes,
                int resourceFiles = 4);

// A digest of the tree's names, types, link targets and file contents; "" when nothing is there.
std::string treeDigest(const std::string& path);

// One line per entry of the tree, sorted by path: the relative path, the type, the permission
// bits, the link target or a hash of the content, and for files with several hard links the
// first path of their group. "" when nothing is there.
std::string treeManifest(const std::string& path);

// Gives the tree to the user that unprivileged children run as (only when the test is root).
void handToUnprivilegedUser(const std::string& path);

// True when the tests run as root, which ignores permission bits.
bool runningAsRoot();

// True when an unprivileged child (see Child::start) can run the program: false only when the
// tests run as root and a folder above the program is closed to other users (a checkout in a
// private temporary folder), where such cases cannot run and are skipped.
bool unprivilegedCanRun(const std::string& program);

// The names in a directory, sorted.
std::vector<std::string> listNames(const std::string& directory);

// Names in the directory that begin with the prefix.
std::vector<std::string> namesStartingWith(const std::string& directory, const std::string& prefix);

// Waits until the file exists; false after the limit.
bool waitForFile(const std::string& path, double limitSeconds);

double secondsSinceEpoch();

// Whether anything, a dangling link included, is at the path.
bool present(const std::string& path);
// The entry's inode number in decimal, without following a link; "" when nothing is there.
std::string inodeOf(const std::string& path);

// The recovery procedure of the host's guide (docs/host-integration.md), step by step.
void recoverAsTheGuideSays(const std::string& target);
