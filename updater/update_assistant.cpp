#include "update_assistant.h"

#include "arguments.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

constexpr double waitLimitSeconds = 40.0;
constexpr double probeIntervalSeconds = 0.1;
constexpr double successLingerSeconds = 1.0;
constexpr double failureLingerSeconds = 6.0;

const char* const installingHeadline = "Installing update";
const char* const copyingDetail = "Copying the verified app\u2026";
const char* const openingHeadline = "Opening Orlavo";
const char* const readyDetail = "Your update is ready.";
const char* const failedHeadline = "Update could not finish";
const char* const failedDetail = "Your current app is still available. Try again.";

const char* const hostStayedMessage = "Orlavo did not quit; update cancelled.";
const char* const bundleMissingMessage = "Verified update bundle is missing.";
const char* const needsRecoveryMessage = "A previous update needs recovery.";
const char* const failedPrefix = "Update failed: ";
const char* const installedPrefix = "Update installed; previous app preserved at ";

// The finished, flushed copy is renamed to the target path, this infix and its identity.
const char* const readyInfix = ".update-ready-";

std::string quoted(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

// The standard description of an error in the OrlavoUpdater domain with this code.
std::string describeExitStatus(int32_t status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(int64_t{status}) + ".)";
}

// The start of a child program's first error line, cut to at most 200 bytes at a character
// boundary, with control characters as spaces, so that the log keeps one line of UTF-8 text.
std::string boundedErrorLine(std::string line) {
    constexpr std::size_t limit = 200;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        line.resize(cut);
    }
    for (char& byte : line)
        if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) byte = ' ';
    return line;
}

std::string describeMove(const std::string& from, const std::string& to, const std::string& error) {
    return "Could not move " + quoted(from) + " to " + quoted(to) + ": " + error;
}

// Whole seconds since 1970, the fraction cut off, as decimal digits.
std::string wholeSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) >= 9.0e18) return "0";
    return std::to_string(static_cast<int64_t>(seconds));
}

std::string appendComponent(const std::string& directory, const char* component) {
    return directory.ends_with('/') ? directory + component : directory + "/" + component;
}

std::string besideExecutable(const std::string& program, const std::string& executable) {
    if (program.empty() || program.front() == '/') return program;
    if (executable.empty()) return "";
    return executable.substr(0, executable.rfind('/') + 1) + program;
}

} // namespace

ChildPrograms locatedBeside(ChildPrograms programs, const std::string& executable) {
    programs.copyProgram = besideExecutable(programs.copyProgram, executable);
    programs.openProgram = besideExecutable(programs.openProgram, executable);
    return programs;
}

UpdateAssistant::UpdateAssistant(const std::vector<std::string>& arguments,
                                 const std::string& workingDirectory,
                                 std::unique_ptr<StatusCard> card, AssistantServices services)
    : card_(std::move(card)), target_(fileURLPath(arguments.at(1), workingDirectory)),
      source_(fileURLPath(arguments.at(2), workingDirectory)),
      parentID_(parseParentID(arguments.at(3))),
      log_(fileURLPath(arguments.at(4), workingDirectory)), workingDirectory_(workingDirectory),
      operations_(services.operations), mainLoop_(services.mainLoop),
      programs_(std::move(services.programs)) {}

void UpdateAssistant::applicationDidFinishLaunching() {
    card_->show();
    mainLoop_.startWorker([this] {
        try {
            install();
        } catch (...) {
            // Only allocation can throw here; the process must still end.
            mainLoop_.terminateAfter(failureLingerSeconds);
        }
    });
}

void UpdateAssistant::setStatus(std::string headline, std::string detail) {
    card_->setStatus(std::move(headline), std::move(detail));
}

bool UpdateAssistant::waitForHost(double deadline) {
    if (operations_.processExists(parentID_)) {
        // The deadline is tested before each sleep, so the last sleep may end one interval late;
        // the final probe decides.
        while (operations_.now() < deadline) {
            operations_.sleepFor(probeIntervalSeconds);
            if (!operations_.processExists(parentID_)) break;
        }
    }
    return !operations_.processExists(parentID_);
}

void UpdateAssistant::install() {
    // Whatever happens next, an earlier run's line is never read as this run's outcome.
    operations_.discardEarlierContent(log_);
    // What stands at the target before the wait: an update that replaces it meanwhile is seen.
    targetAtStart_ = operations_.entryDeviceAndInode(target_);
    const double deadline = operations_.now() + waitLimitSeconds;
    if (parentID_ >= 1 && !waitForHost(deadline)) return finish(hostStayedMessage, true);
    // A linked source is resolved once, so that the test and the copy see the same tree.
    const std::optional<std::string> source = operations_.resolvedPath(source_);
    if (!source || !operations_.pathExists(appendComponent(*source, "Contents")))
        return finish(bundleMissingMessage, true);
    if (auto refusal = refusalOfTarget()) return finish(failedPrefix + *refusal, true);

    const std::string staging = target_ + ".update-new";
    const std::string previous = target_ + ".update-previous-" + wholeSeconds(operations_.now());
    if (leftoversExist(staging, previous)) return finish(needsRecoveryMessage, true);
    if (auto refusal = refusalOfLongName(previous)) return finish(failedPrefix + *refusal, true);
    if (auto refusal = claimStaging(staging, previous)) return finish(*refusal, true);

    setStatus(installingHeadline, copyingDetail);
    if (auto failure = copyToStaging(*source, staging)) return failInstall(*failure);
    std::string ready;
    if (auto failure = makeReady(staging, ready)) return failInstall(*failure);
    if (auto failure = swapIn(ready, previous)) return failInstall(*failure);
    operations_.flushDirectoryOf(target_);
    setStatus(openingHeadline, readyDetail);
    if (auto failure = reopen()) return failInstall(*failure);
    finish(installedPrefix + previous, false);
}

// The root folder, the working directory, the home folder and every folder that holds one of
// them are never moved aside: compared as given and with links resolved.
std::optional<std::string> UpdateAssistant::refusalOfTarget() {
    struct Kept {
        std::string path;
        const char* name;
    };
    std::vector<Kept> kept;
    const auto keep = [&](const std::string& path, const char* name) {
        if (path.empty()) return;
        kept.push_back({fileURLPath(path, "/"), name});
        if (auto resolved = operations_.resolvedPath(path)) kept.push_back({*resolved, name});
    };
    keep(workingDirectory_, "the working directory");
    keep(operations_.homeDirectory(), "the home folder");

    std::vector<std::string> targets = {target_};
    if (auto resolved = operations_.resolvedPath(target_)) targets.push_back(*resolved);
    const std::string refusing = "Refusing to replace " + quoted(target_) + ": ";
    for (const std::string& target : targets) {
        if (target == "/") return refusing + "it is the root folder.";
        for (const Kept& folder : kept)
            if (folder.path == target) return refusing + "it is " + folder.name + ".";
    }
    for (const std::string& target : targets)
        for (const Kept& folder : kept)
            if (folder.path.starts_with(target + "/"))
                return refusing + "it holds " + folder.name + ".";
    return std::nullopt;
}

// Names are tested without following links: a dangling link at the staging name would
// otherwise let the copy write through it.
bool UpdateAssistant::leftoversExist(const std::string& staging, const std::string& previous) {
    return operations_.entryExists(staging) || operations_.entryExists(previous) ||
           !operations_.entriesStartingWith(target_ + readyInfix).empty();
}

// The previous copy's name is the longest this run is sure to need beside the target; a target
// whose name leaves no room for it is refused before anything is copied.
std::optional<std::string> UpdateAssistant::refusalOfLongName(const std::string& previous) {
    const std::size_t slash = target_.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target_.substr(0, slash));
    const std::optional<std::size_t> limit = operations_.longestName(directory);
    const std::size_t nameLength = target_.size() - (slash == std::string::npos ? 0 : slash + 1);
    const std::size_t added = previous.size() - target_.size();
    if (!limit || nameLength + added <= *limit) return std::nullopt;
    return "Refusing to replace " + quoted(target_) +
           ": its name is too long for the names placed beside it (" + std::to_string(nameLength) +
           " bytes, at most " + std::to_string(*limit > added ? *limit - added : 0) + " here).";
}

// The staging folder is made here and never taken over: of two runs on one target only the one
// that creates it goes on, and the copy program fills it. A run that finished its copy between
// the test for leftovers and this claim has left a ready or previous copy, which is tested again,
// or has already swapped its version in, which the target's changed device and inode tell.
// The log's message when the run must stop, else nothing.
std::optional<std::string> UpdateAssistant::claimStaging(const std::string& staging,
                                                         const std::string& previous) {
    const Creation claim = operations_.createDirectory(staging);
    if (claim.outcome == Creation::Outcome::exists) return needsRecoveryMessage;
    if (claim.outcome == Creation::Outcome::failed)
        return failedPrefix + ("Could not create " + quoted(staging) + ": " + claim.error);
    if (operations_.entryExists(previous) ||
        !operations_.entriesStartingWith(target_ + readyInfix).empty() || targetReplaced()) {
        operations_.removeTree(staging); // this run's own folder, still empty
        return needsRecoveryMessage;
    }
    return std::nullopt;
}

// A target that was missing at start has nothing to compare: it is never taken as replaced.
bool UpdateAssistant::targetReplaced() {
    return targetAtStart_ && operations_.entryDeviceAndInode(target_) != targetAtStart_;
}

std::optional<UpdateAssistant::StepFailure>
UpdateAssistant::copyToStaging(const std::string& source, const std::string& staging) {
    std::vector<std::string> arguments = programs_.copyOptions;
    arguments.push_back(source);
    arguments.push_back(staging);
    const ProgramRun run = operations_.runProgram(programs_.copyProgram, arguments, true);
    if (!run.started)
        return StepFailure{"Could not start " + quoted(programs_.copyProgram) + " to copy " +
                               quoted(source) + " to " + quoted(staging) + ": " + run.startError,
                           staging};
    if (run.exitStatus == 0) return std::nullopt;
    // The copy program's own first line says why (a full disk, a denied permission).
    std::string description = describeExitStatus(run.exitStatus);
    if (const std::string line = boundedErrorLine(run.errorLine); !line.empty())
        description += "; " + line;
    return StepFailure{description, staging};
}

// Puts the finished copy on disk, then gives it the name that says so: the ready name carries
// the copy's identity, so that after a crash the name alone tells whether the exchange happened
// (the identity still matches: not yet; it differs: the installed version is there instead).
std::optional<UpdateAssistant::StepFailure> UpdateAssistant::makeReady(const std::string& staging,
                                                                       std::string& ready) {
    if (auto error = operations_.flushFileSystem(staging))
        return StepFailure{"Could not write " + quoted(staging) + " to disk: " + *error, staging};
    const std::optional<std::string> identity = operations_.entryIdentity(staging);
    if (!identity)
        return StepFailure{"Could not read " + quoted(staging) + " after copying it", staging};
    ready = target_ + readyInfix + *identity;
    if (auto error = operations_.moveNoReplace(staging, ready))
        return StepFailure{describeMove(staging, ready, *error), staging};
    return std::nullopt;
}

// Puts the ready copy at the target path and the installed version at the previous copy's
// name. With an atomic exchange the target path never stands empty.
std::optional<UpdateAssistant::StepFailure> UpdateAssistant::swapIn(const std::string& ready,
                                                                    const std::string& previous) {
    const Exchange exchanged = operations_.exchange(ready, target_);
    if (exchanged.outcome == Exchange::Outcome::unsupported)
        return moveAsideThenIn(ready, previous);
    if (exchanged.outcome == Exchange::Outcome::failed)
        return StepFailure{"Could not exchange " + quoted(ready) + " with " + quoted(target_) +
                               ": " + exchanged.error,
                           ready};
    // The ready name now holds the installed version.
    if (auto error = operations_.moveNoReplace(ready, previous)) {
        const Exchange back = operations_.exchange(ready, target_);
        // Should the exchange back fail, the ready name still holds the installed version,
        // which must never be removed.
        return StepFailure{describeMove(ready, previous, *error),
                           back.outcome == Exchange::Outcome::done ? ready : std::string()};
    }
    return std::nullopt;
}

// Two renames, for file systems without an atomic exchange: the target path is empty between
// them. Nothing is removed while it might be: the ready copy then stays for recovery.
std::optional<UpdateAssistant::StepFailure>
UpdateAssistant::moveAsideThenIn(const std::string& ready, const std::string& previous) {
    if (auto error = operations_.moveNoReplace(target_, previous))
        return StepFailure{describeMove(target_, previous, *error), ready};
    if (auto error = operations_.moveNoReplace(ready, target_)) {
        const bool rolledBack = !operations_.moveNoReplace(previous, target_);
        return StepFailure{describeMove(ready, target_, *error),
                           rolledBack ? ready : std::string()};
    }
    return std::nullopt;
}

std::optional<UpdateAssistant::StepFailure> UpdateAssistant::reopen() {
    const ProgramRun run = operations_.runProgram(programs_.openProgram, {target_}, false);
    // The swap is done: no name of this run is left to remove.
    if (!run.started)
        return StepFailure{"Could not start " + quoted(programs_.openProgram) + " to open " +
                               quoted(target_) + ": " + run.startError,
                           {}};
    if (run.exitStatus != 0) return StepFailure{describeExitStatus(run.exitStatus), {}};
    return std::nullopt;
}

void UpdateAssistant::failInstall(const StepFailure& failure) {
    std::string description = failure.description;
    if (!failure.removable.empty()) {
        if (auto error = operations_.removeTree(failure.removable)) description += "; " + *error;
    }
    finish(failedPrefix + description, true);
}

void UpdateAssistant::finish(const std::string& message, bool failed) {
    operations_.writeFileDurably(log_, message + "\n"); // a failed write is not reported
    if (failed) {
        setStatus(failedHeadline, failedDetail);
        mainLoop_.terminateAfter(failureLingerSeconds);
    } else {
        setStatus(openingHeadline, readyDetail);
        mainLoop_.terminateAfter(successLingerSeconds);
    }
}
