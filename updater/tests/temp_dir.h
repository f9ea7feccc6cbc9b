#pragma once
// A fresh directory per test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Who must be able to reach a test's files. A root test that runs the program as another user
// needs every folder above its own to be open to that user; macOS's TMPDIR, for one, is not.
enum class Reach { owner, otherUsers };

class TempDir {
  public:
    explicit TempDir(Reach reach = Reach::owner) {
        std::string base = temporaryBase();
        reachable_ = reach == Reach::owner || geteuid() != 0 || openToEveryone(base);
        if (!reachable_ && openToEveryone("/tmp")) {
            base = "/tmp";
            reachable_ = true;
        }
        std::string pattern = base + "/updater-test.XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        // The program names paths as the system resolves them (/private/var/... on macOS, where
        // TMPDIR is a link and ends in "/"), so the tests name them the same way.
        path_ = std::filesystem::canonical(pattern).string();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // False when the folder was asked for other users and no folder they can reach was found.
    bool reachableByOtherUsers() const { return reachable_; }

  private:
    static std::string temporaryBase() {
        const char* base = std::getenv("TMPDIR");
        return base && *base ? base : "/tmp";
    }
    // True when every folder from the root down to the path lets others pass through.
    static bool openToEveryone(const std::string& path) {
        std::error_code error;
        std::filesystem::path folder = std::filesystem::canonical(path, error);
        if (error) return false;
        for (; !folder.empty(); folder = folder.parent_path()) {
            struct stat info {};
            if (::stat(folder.c_str(), &info) != 0 || !(info.st_mode & S_IXOTH)) return false;
            if (folder == folder.root_path()) break;
        }
        return true;
    }

    std::string path_;
    bool reachable_ = true;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}
