#pragma once
// Fakes for the install procedure: an imagined file system and clock, a main loop that runs the
// worker at once, and a card. Tests judge what a run leaves behind (the tree, the log line, the
// card's texts, the termination); the journal of calls serves only the orders safety rests on.

#include "install_operations.h"
#include "main_loop.h"
#include "status_card.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FakeEntry {
    enum class Kind { folder, file, link };
    Kind kind = Kind::folder;
    std::string data; // a file's content, a link's target
    DeviceAndInode place;
    bool operator==(const FakeEntry&) const = default;
};

class FakeOperations final : public InstallOperations {
  public:
    // Copies the whole tree at the source into the staging folder (as cp -aT or ditto does), or
    // part of it when the run fails; keeps the error line only when asked to.
    std::string copyProgram = "/stub/copy";
    // Records the version at its argument when asked to start.
    std::string openProgram = "/stub/open";

    // The clock in whole milliseconds, so that sums of 0.1 s steps stay exact.
    int64_t clockMillis = 1'700'000'000'250;
    // Probes that find the host alive before it is gone; negative: it never quits. No other
    // process is ever found.
    int32_t hostID = 4242;
    int aliveProbes = 0;
    // Milliseconds added to the clock by the first sleep (a wall-clock jump), on top of the sleep.
    int64_t jumpAtFirstSleep = 0;
    std::function<void(FakeOperations&)> onProbe;  // another run acting while this one waits
    std::function<void(FakeOperations&)> onCreate; // another run acting at this run's claim

    std::map<std::string, FakeEntry> tree; // every entry by its whole path; "/" always exists
    uint64_t nextInode = 1000;
    std::string home = "/home/user";
    std::optional<std::size_t> nameLimit = 255;
    bool exchangeSupported = true;
    bool logWritable = true;
    std::deque<ProgramRun> copyRuns; // how each copy ends; default: success
    std::deque<ProgramRun> openRuns; // default: success
    std::optional<std::string> createFault;
    std::deque<std::optional<std::string>> exchangeFaults; // in call order; nothing: done
    std::deque<std::optional<std::string>> flushFaults;
    std::map<std::pair<std::string, std::string>, std::string> moveFaults; // (from, to): error
    std::map<std::string, std::string> removalFaults;                      // path: error

    int probes = 0;
    std::vector<double> sleeps;
    std::vector<std::string> copyOptions;   // what the copy was given before its two paths
    std::vector<std::string> opened;        // the version at the target at each open
    std::vector<std::string> journal;       // the copy and open runs, flushes, moves and exchanges
    std::set<std::string> unflushedFolders; // names changed there since the folder's last flush

    // Building the tree.
    void folder(const std::string& path) { add(path, {FakeEntry::Kind::folder, {}, {}}); }
    void file(const std::string& path, const std::string& content) {
        add(path, {FakeEntry::Kind::file, content, {}});
    }
    void link(const std::string& path, const std::string& target) {
        add(path, {FakeEntry::Kind::link, target, {}});
    }
    // A bundle folder whose Contents/version file names the version.
    void bundle(const std::string& path, const std::string& version) {
        folder(path);
        folder(path + "/Contents");
        file(path + "/Contents/version", version);
    }
    void erase(const std::string& path) {
        std::erase_if(tree, [&](const auto& entry) { return within(entry.first, path); });
    }

    // Judging it: what each entry of the folder holds, by name. A bundle is its version, a
    // folder without one "(part)" or "(empty)", a file its content, a link "-> target".
    std::map<std::string, std::string> namesIn(const std::string& directory) const {
        std::map<std::string, std::string> names;
        for (const auto& [path, entry] : tree)
            if (path.starts_with(directory + "/") &&
                path.find('/', directory.size() + 1) == std::string::npos)
                names[path.substr(directory.size() + 1)] = summary(path);
        return names;
    }
    std::string summary(const std::string& path) const {
        const FakeEntry& entry = tree.at(path);
        if (entry.kind != FakeEntry::Kind::folder)
            return entry.kind == FakeEntry::Kind::link ? "-> " + entry.data : entry.data;
        if (const auto version = tree.find(path + "/Contents/version"); version != tree.end())
            return version->second.data;
        const auto inside = tree.lower_bound(path + "/");
        return inside != tree.end() && inside->first.starts_with(path + "/") ? "(part)" : "(empty)";
    }
    std::optional<std::string> fileAt(const std::string& path) const {
        const auto found = tree.find(path);
        if (found == tree.end() || found->second.kind != FakeEntry::Kind::file) return std::nullopt;
        return found->second.data;
    }
    // True when both calls were made and the first one came first.
    bool before(const std::string& first, const std::string& second) const {
        const auto a = std::find(journal.begin(), journal.end(), first);
        const auto b = std::find(journal.begin(), journal.end(), second);
        return a != journal.end() && b != journal.end() && a < b;
    }

    double now() override { return static_cast<double>(clockMillis) / 1000.0; }
    void sleepFor(double seconds) override {
        clockMillis += std::lround(seconds * 1000) + (sleeps.empty() ? jumpAtFirstSleep : 0);
        sleeps.push_back(seconds);
    }
    bool processExists(int32_t pid) override {
        if (onProbe) onProbe(*this);
        ++probes;
        return pid == hostID && (aliveProbes < 0 || probes <= aliveProbes);
    }
    bool pathExists(const std::string& path) override { return resolved(path).has_value(); }
    bool entryExists(const std::string& path) override { return tree.count(path) > 0; }
    ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          bool keepErrorLine) override;
    Creation createDirectory(const std::string& path) override;
    std::optional<std::size_t> longestName(const std::string&) override { return nameLimit; }
    Exchange exchange(const std::string& first, const std::string& second) override;
    std::optional<std::string> moveNoReplace(const std::string& from,
                                             const std::string& to) override;
    std::optional<std::string> resolvedPath(const std::string& path) override {
        return resolved(path);
    }
    std::string homeDirectory() override { return home; }
    std::vector<std::string> entriesStartingWith(const std::string& pathPrefix) override {
        const std::size_t directoryEnd = pathPrefix.rfind('/') + 1;
        std::vector<std::string> found;
        for (const auto& [path, entry] : tree)
            if (path.starts_with(pathPrefix) && path.find('/', directoryEnd) == std::string::npos)
                found.push_back(path);
        return found;
    }
    std::optional<std::string> entryIdentity(const std::string& path) override {
        if (!tree.count(path)) return std::nullopt;
        return std::to_string(tree.at(path).place.inode);
    }
    std::optional<DeviceAndInode> entryDeviceAndInode(const std::string& path) override {
        if (!tree.count(path)) return std::nullopt;
        return tree.at(path).place;
    }
    std::optional<std::string> flushFileSystem(const std::string& path) override {
        journal.push_back("flush " + path);
        return next(flushFaults, std::optional<std::string>{});
    }
    void flushDirectoryOf(const std::string& path) override {
        unflushedFolders.erase(parentOf(path));
    }
    std::optional<std::string> removeTree(const std::string& path) override {
        if (const auto fault = removalFaults.find(path); fault != removalFaults.end())
            return fault->second;
        erase(path);
        unflushedFolders.insert(parentOf(path));
        return std::nullopt;
    }
    void discardEarlierContent(const std::string& path) override {
        if (tree.count(path) && tree.at(path).kind != FakeEntry::Kind::folder) erase(path);
    }
    bool writeFileDurably(const std::string& path, const std::string& content) override {
        const auto parent = tree.find(parentOf(path));
        if (!logWritable || parent == tree.end() || parent->second.kind != FakeEntry::Kind::folder)
            return false;
        if (tree.count(path) && tree.at(path).kind == FakeEntry::Kind::folder) return false;
        erase(path);
        file(path, content);
        return true;
    }

  private:
    static bool within(const std::string& path, const std::string& top) {
        return path == top || path.starts_with(top + "/");
    }
    static std::string parentOf(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        return slash == 0 ? "/" : path.substr(0, slash);
    }
    template <typename T>
    static T next(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T value = queue.front();
        queue.pop_front();
        return value;
    }
    void add(const std::string& path, FakeEntry entry) {
        entry.place = {1, nextInode++};
        tree[path] = entry;
    }
    // Every link on the way replaced by its target; nothing when no entry is at the end.
    std::optional<std::string> resolved(const std::string& path) const;
    // Moves the entry and everything below it to another name.
    void rename(const std::string& from, const std::string& to);
    void copyTree(const std::string& from, const std::string& to, bool whole);
};

inline std::optional<std::string> FakeOperations::resolved(const std::string& path) const {
    if (path == "/") return path;
    std::string done;
    std::string rest = path;
    for (int hops = 0; hops < 40 && !rest.empty();) {
        const std::size_t slash = rest.find('/', 1);
        done += rest.substr(0, slash);
        rest = slash == std::string::npos ? "" : rest.substr(slash);
        const auto found = tree.find(done);
        if (found == tree.end()) return std::nullopt;
        if (found->second.kind == FakeEntry::Kind::link) {
            rest = found->second.data + rest;
            done.clear();
            ++hops;
        }
    }
    return rest.empty() ? std::optional<std::string>(done.empty() ? "/" : done) : std::nullopt;
}

inline void FakeOperations::rename(const std::string& from, const std::string& to) {
    std::map<std::string, FakeEntry> moved;
    for (auto entry = tree.begin(); entry != tree.end();) {
        if (!within(entry->first, from)) {
            ++entry;
            continue;
        }
        moved[to + entry->first.substr(from.size())] = entry->second;
        entry = tree.erase(entry);
    }
    tree.merge(moved);
    unflushedFolders.insert(parentOf(from));
    unflushedFolders.insert(parentOf(to));
}

inline void FakeOperations::copyTree(const std::string& from, const std::string& to, bool whole) {
    std::vector<std::pair<std::string, FakeEntry>> copied;
    for (const auto& [path, entry] : tree)
        if (path.starts_with(from + "/") && (whole || path.ends_with("/Contents")))
            copied.emplace_back(to + path.substr(from.size()), entry);
    for (auto& [path, entry] : copied)
        add(path, entry);
}

inline ProgramRun FakeOperations::runProgram(const std::string& program,
                                             const std::vector<std::string>& arguments,
                                             bool keepErrorLine) {
    journal.push_back("run " + program);
    ProgramRun run{false, "No such file or directory", 0, {}};
    if (program == openProgram) {
        opened.push_back(tree.count(arguments.at(0)) ? summary(arguments.at(0)) : "(missing)");
        run = next(openRuns, ProgramRun{true, {}, 0, {}});
    } else if (program == copyProgram && arguments.size() >= 2) {
        copyOptions.assign(arguments.begin(), arguments.end() - 2);
        run = next(copyRuns, ProgramRun{true, {}, 0, {}});
        // Like cp -a and ditto, the copy takes a link as it is: a folder cannot become one.
        const std::string& from = arguments.end()[-2];
        const std::string& staging = arguments.back();
        if (run.started && run.exitStatus == 0 &&
            (!tree.count(from) || tree.at(from).kind != FakeEntry::Kind::folder))
            run = {true, {}, 1, "cp: cannot overwrite directory with non-directory"};
        if (run.started && tree.count(staging)) copyTree(from, staging, run.exitStatus == 0);
    }
    if (!keepErrorLine) run.errorLine.clear();
    return run;
}

inline Creation FakeOperations::createDirectory(const std::string& path) {
    if (onCreate) onCreate(*this);
    if (tree.count(path)) return {Creation::Outcome::exists, {}};
    if (createFault) return {Creation::Outcome::failed, *createFault};
    if (parentOf(path) != "/" && !tree.count(parentOf(path)))
        return {Creation::Outcome::failed, "No such file or directory"};
    folder(path);
    unflushedFolders.insert(parentOf(path));
    return {Creation::Outcome::created, {}};
}

inline Exchange FakeOperations::exchange(const std::string& first, const std::string& second) {
    journal.push_back("exchange " + first + " " + second);
    if (!exchangeSupported) return {Exchange::Outcome::unsupported, {}};
    if (auto fault = next(exchangeFaults, std::optional<std::string>{}))
        return {Exchange::Outcome::failed, *fault};
    if (!tree.count(first) || !tree.count(second))
        return {Exchange::Outcome::failed, "No such file or directory"};
    const std::string aside = first + "\n(exchanging)";
    rename(first, aside);
    rename(second, first);
    rename(aside, second);
    return {Exchange::Outcome::done, {}};
}

inline std::optional<std::string> FakeOperations::moveNoReplace(const std::string& from,
                                                                const std::string& to) {
    journal.push_back("move " + from + " " + to);
    if (const auto fault = moveFaults.find({from, to}); fault != moveFaults.end())
        return fault->second;
    if (tree.count(to)) return "File exists";
    if (!tree.count(from)) return "No such file or directory";
    rename(from, to);
    return std::nullopt;
}

// What the card and the main loop were asked to do.
struct Screen {
    using Texts = std::pair<std::string, std::string>;
    bool shown = false;
    bool shownBeforeTheWorker = false;
    std::vector<Texts> texts;         // every setStatus, in call order
    std::vector<double> terminations; // seconds asked for
};

// Runs the worker's task at once, on the calling thread.
class FakeMainLoop final : public MainLoop {
  public:
    explicit FakeMainLoop(Screen& screen) : screen_(screen) {}
    void startWorker(std::function<void()> task) override {
        screen_.shownBeforeTheWorker = screen_.shown;
        task();
    }
    void terminateAfter(double seconds) override { screen_.terminations.push_back(seconds); }

  private:
    Screen& screen_;
};

class FakeCard final : public StatusCard {
  public:
    explicit FakeCard(Screen& screen) : screen_(screen) {}
    void show() override { screen_.shown = true; }
    void setStatus(std::string headline, std::string detail) override {
        screen_.texts.emplace_back(std::move(headline), std::move(detail));
    }

  private:
    Screen& screen_;
};
