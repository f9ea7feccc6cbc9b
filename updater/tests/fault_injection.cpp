// The faulty variant's operations, linked in place of assistant_operations.cpp: the system's
// own with the faults that the environment asks for.
//  UPDATER_TEST_KILL_AFTER=OPERATION#N  the process sends itself SIGKILL right after the Nth call
//                                       of that operation has returned (N defaults to 1);
//  UPDATER_TEST_NO_EXCHANGE=1           the exchange reports that the file system lacks it.
#include "system_operations.h"

#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

class FaultyOperations final : public InstallOperations {
  public:
    explicit FaultyOperations(std::unique_ptr<InstallOperations> real) : real_(std::move(real)) {
        if (const char* kill = std::getenv("UPDATER_TEST_KILL_AFTER")) {
            killAfter_ = kill;
            if (killAfter_.find('#') == std::string::npos) killAfter_ += "#1";
        }
        const char* noExchange = std::getenv("UPDATER_TEST_NO_EXCHANGE");
        noExchange_ = noExchange && std::string(noExchange) == "1";
    }

    double now() override { return real_->now(); }
    void sleepFor(double seconds) override { real_->sleepFor(seconds); }
    bool processExists(int32_t pid) override { return real_->processExists(pid); }
    bool pathExists(const std::string& path) override { return real_->pathExists(path); }
    bool entryExists(const std::string& path) override { return real_->entryExists(path); }
    ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          bool keepErrorLine) override {
        return after("runProgram", real_->runProgram(program, arguments, keepErrorLine));
    }
    Creation createDirectory(const std::string& path) override {
        return after("createDirectory", real_->createDirectory(path));
    }
    std::optional<std::size_t> longestName(const std::string& directory) override {
        return real_->longestName(directory);
    }
    void discardEarlierContent(const std::string& path) override {
        real_->discardEarlierContent(path);
    }
    Exchange exchange(const std::string& first, const std::string& second) override {
        if (noExchange_) return after("exchange", Exchange{Exchange::Outcome::unsupported, {}});
        return after("exchange", real_->exchange(first, second));
    }
    std::optional<std::string> moveNoReplace(const std::string& from,
                                             const std::string& to) override {
        return after("moveNoReplace", real_->moveNoReplace(from, to));
    }
    std::optional<std::string> resolvedPath(const std::string& path) override {
        return real_->resolvedPath(path);
    }
    std::string homeDirectory() override { return real_->homeDirectory(); }
    std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) override {
        return real_->entriesStartingWith(pathPrefix);
    }
    std::optional<std::string> entryIdentity(const std::string& path) override {
        return after("entryIdentity", real_->entryIdentity(path));
    }
    std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) override {
        return real_->entryDeviceAndInode(path);
    }
    std::optional<std::string> flushFileSystem(const std::string& path) override {
        return after("flushFileSystem", real_->flushFileSystem(path));
    }
    void flushDirectoryOf(const std::string& path) override {
        real_->flushDirectoryOf(path);
        after("flushDirectoryOf", 0);
    }
    std::optional<std::string> removeTree(const std::string& path) override {
        return after("removeTree", real_->removeTree(path));
    }
    bool writeFileDurably(const std::string& path, const std::string& content) override {
        return after("writeFileDurably", real_->writeFileDurably(path, content));
    }

  private:
    template <typename T>
    T after(const std::string& operation, T result) {
        const int call = ++calls_[operation];
        if (killAfter_ == operation + "#" + std::to_string(call)) std::raise(SIGKILL);
        return result;
    }

    std::unique_ptr<InstallOperations> real_;
    std::string killAfter_;
    bool noExchange_ = false;
    std::map<std::string, int> calls_;
};

} // namespace

std::unique_ptr<InstallOperations> makeAssistantOperations() {
    return std::make_unique<FaultyOperations>(makeSystemOperations());
}
