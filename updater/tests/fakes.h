#pragma once
// Fakes for the install procedure: operations on an imagined file system and clock, a main
// loop that runs the worker at once, and a card. All of them write into one shared event list,
// so a test sees the order of everything the assistant did.

#include "install_operations.h"
#include "main_loop.h"
#include "status_card.h"

#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using Events = std::vector<std::string>;

class FakeOperations final : public InstallOperations {
  public:
    explicit FakeOperations(Events& events) : events_(events) {}

    // The clock in whole milliseconds, so that sums of 0.1 s steps stay exact.
    int64_t clockMillis = 1'700'000'000'250;
    // Probes that find the host alive before it is gone; negative: it never quits.
    int aliveProbes = 0;
    // Milliseconds added to the clock by the first sleep (a wall-clock jump), on top of the sleep.
    int64_t jumpAtFirstSleep = 0;
    std::set<std::string> paths;           // answered by pathExists
    std::set<std::string> entries;         // answered by entryExists
    std::deque<ProgramRun> runs;           // results of runProgram in call order; default: success
    std::deque<Creation> creations;        // results of createDirectory; default: created
    std::set<std::string> entriesOnCreate; // entries that appear with createDirectory
    std::optional<std::size_t> nameLimit = 255;   // answered by longestName
    std::deque<Exchange> exchanges;               // default: done
    std::deque<std::optional<std::string>> moves; // default: success
    bool logWritable = true;
    // Answers of resolvedPath: the mapped text, or nothing for an empty text; unmapped paths
    // resolve to themselves.
    std::map<std::string, std::string> resolutions;
    std::string home = "/home/user";
    std::string identity = "77"; // answered by entryIdentity
    // Answers of entryDeviceAndInode in call order; default: device 1, inode 4242.
    std::deque<std::optional<DeviceAndInode>> places;
    std::deque<std::optional<std::string>> flushes;  // default: success
    std::deque<std::optional<std::string>> removals; // default: success

    int probes = 0;
    int sleeps = 0;

    double now() override { return static_cast<double>(clockMillis) / 1000.0; }
    void sleepFor(double seconds) override {
        events_.push_back("sleep " + std::to_string(std::lround(seconds * 1000)) + "ms");
        clockMillis += std::lround(seconds * 1000) + (sleeps == 0 ? jumpAtFirstSleep : 0);
        ++sleeps;
    }
    bool processExists(int32_t pid) override {
        events_.push_back("probe " + std::to_string(pid));
        ++probes;
        return aliveProbes < 0 || probes <= aliveProbes;
    }
    bool pathExists(const std::string& path) override {
        events_.push_back("exists " + path);
        return paths.count(path) > 0;
    }
    bool entryExists(const std::string& path) override {
        events_.push_back("entry " + path);
        return entries.count(path) > 0;
    }
    ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          bool keepErrorLine) override {
        std::string line = "run " + program;
        for (const std::string& argument : arguments)
            line += " " + argument;
        events_.push_back(line + (keepErrorLine ? " (error line kept)" : ""));
        return next(runs, ProgramRun{true, {}, 0, {}});
    }
    Creation createDirectory(const std::string& path) override {
        events_.push_back("create " + path);
        entries.insert(entriesOnCreate.begin(), entriesOnCreate.end());
        return next(creations, Creation{Creation::Outcome::created, {}});
    }
    std::optional<std::size_t> longestName(const std::string& directory) override {
        events_.push_back("name limit " + directory);
        return nameLimit;
    }
    void discardEarlierContent(const std::string& path) override {
        events_.push_back("discard " + path);
    }
    Exchange exchange(const std::string& first, const std::string& second) override {
        events_.push_back("exchange " + first + " " + second);
        return next(exchanges, Exchange{Exchange::Outcome::done, {}});
    }
    std::optional<std::string> moveNoReplace(const std::string& from,
                                             const std::string& to) override {
        events_.push_back("move " + from + " " + to);
        return next(moves, std::optional<std::string>{});
    }
    std::optional<std::string> resolvedPath(const std::string& path) override {
        events_.push_back("resolve " + path);
        const auto found = resolutions.find(path);
        if (found == resolutions.end()) return path;
        if (found->second.empty()) return std::nullopt;
        return found->second;
    }
    std::string homeDirectory() override {
        events_.push_back("home");
        return home;
    }
    std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) override {
        events_.push_back("entries " + pathPrefix);
        std::vector<std::string> found;
        for (const std::string& entry : entries)
            if (entry.starts_with(pathPrefix)) found.push_back(entry);
        return found;
    }
    std::optional<std::string> entryIdentity(const std::string& path) override {
        events_.push_back("identity " + path);
        return identity;
    }
    std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) override {
        events_.push_back("device and inode " + path);
        return next(places, std::optional<DeviceAndInode>{DeviceAndInode{1, 4242}});
    }
    std::optional<std::string> flushFileSystem(const std::string& path) override {
        events_.push_back("flush " + path);
        return next(flushes, std::optional<std::string>{});
    }
    void flushDirectoryOf(const std::string& path) override {
        events_.push_back("flush names " + path);
    }
    std::optional<std::string> removeTree(const std::string& path) override {
        events_.push_back("remove " + path);
        return next(removals, std::optional<std::string>{});
    }
    bool writeFileDurably(const std::string& path, const std::string& content) override {
        events_.push_back("write " + path + " " + content);
        return logWritable;
    }

  private:
    template <typename T>
    static T next(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T value = queue.front();
        queue.pop_front();
        return value;
    }

    Events& events_;
};

// Runs the worker's task at once, on the calling thread.
class FakeMainLoop final : public MainLoop {
  public:
    explicit FakeMainLoop(Events& events) : events_(events) {}
    void startWorker(std::function<void()> task) override {
        events_.push_back("worker");
        task();
    }
    void terminateAfter(double seconds) override {
        events_.push_back("terminate " + std::to_string(std::lround(seconds * 1000)) + "ms");
    }

  private:
    Events& events_;
};

class FakeCard final : public StatusCard {
  public:
    explicit FakeCard(Events& events) : events_(events) {}
    void show() override { events_.push_back("show"); }
    void setStatus(std::string headline, std::string detail) override {
        events_.push_back("status " + headline + " / " + detail);
    }

  private:
    Events& events_;
};
