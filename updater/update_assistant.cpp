#include "update_assistant.h"

#include "arguments.h"

#include <cmath>
#include <utility>

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

std::string quoted(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

// The standard description of an error in the OrlavoUpdater domain with this code.
std::string describeExitStatus(int32_t status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(int64_t{status}) + ".)";
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

} // namespace

UpdateAssistant::UpdateAssistant(const std::vector<std::string>& arguments,
                                 const std::string& workingDirectory,
                                 std::unique_ptr<StatusCard> card, AssistantServices services)
    : card_(std::move(card)), target_(fileURLPath(arguments.at(1), workingDirectory)),
      source_(fileURLPath(arguments.at(2), workingDirectory)),
      parentID_(parseParentID(arguments.at(3))),
      log_(fileURLPath(arguments.at(4), workingDirectory)), operations_(services.operations),
      mainLoop_(services.mainLoop), programs_(std::move(services.programs)) {}

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
    const double deadline = operations_.now() + waitLimitSeconds;
    if (parentID_ >= 1 && !waitForHost(deadline)) return finish(hostStayedMessage, true);
    if (!operations_.pathExists(appendComponent(source_, "Contents")))
        return finish(bundleMissingMessage, true);

    const std::string staging = target_ + ".update-new";
    const std::string previous = target_ + ".update-previous-" + wholeSeconds(operations_.now());
    // Names are tested without following links: a dangling link at the staging name would
    // otherwise let the copy write through it.
    if (operations_.entryExists(staging) || operations_.entryExists(previous))
        return finish(needsRecoveryMessage, true);

    setStatus(installingHeadline, copyingDetail);
    if (auto failure = copyToStaging(staging)) return failInstall(staging, *failure);
    if (auto failure = swapIn(staging, previous)) return failInstall(staging, *failure);
    setStatus(openingHeadline, readyDetail);
    if (auto failure = reopen()) return failInstall(staging, *failure);
    finish(installedPrefix + previous, false);
}

std::optional<UpdateAssistant::StepFailure>
UpdateAssistant::copyToStaging(const std::string& staging) {
    std::vector<std::string> arguments = programs_.copyOptions;
    arguments.push_back(source_);
    arguments.push_back(staging);
    const ProgramRun run = operations_.runProgram(programs_.copyProgram, arguments);
    if (!run.started)
        return StepFailure{"Could not start " + quoted(programs_.copyProgram) + " to copy " +
                           quoted(source_) + " to " + quoted(staging) + ": " + run.startError};
    if (run.exitStatus != 0) return StepFailure{describeExitStatus(run.exitStatus)};
    return std::nullopt;
}

// Puts the staging copy at the target path and the installed version at the previous copy's
// name. With an atomic exchange the target path never stands empty.
std::optional<UpdateAssistant::StepFailure> UpdateAssistant::swapIn(const std::string& staging,
                                                                    const std::string& previous) {
    const Exchange exchanged = operations_.exchange(staging, target_);
    if (exchanged.outcome == Exchange::Outcome::unsupported)
        return moveAsideThenIn(staging, previous);
    if (exchanged.outcome == Exchange::Outcome::failed)
        return StepFailure{"Could not exchange " + quoted(staging) + " with " + quoted(target_) +
                           ": " + exchanged.error};
    // The staging name now holds the installed version.
    if (auto error = operations_.moveNoReplace(staging, previous)) {
        const Exchange back = operations_.exchange(staging, target_);
        // Should the exchange back fail, the staging name still holds the installed version,
        // which must never be removed.
        return StepFailure{describeMove(staging, previous, *error),
                           back.outcome == Exchange::Outcome::done};
    }
    return std::nullopt;
}

// Two renames, for file systems without an atomic exchange: the target path is empty between
// them.
std::optional<UpdateAssistant::StepFailure>
UpdateAssistant::moveAsideThenIn(const std::string& staging, const std::string& previous) {
    if (auto error = operations_.moveNoReplace(target_, previous))
        return StepFailure{describeMove(target_, previous, *error)};
    if (auto error = operations_.moveNoReplace(staging, target_)) {
        operations_.moveNoReplace(previous, target_); // rollback; its outcome is not reported
        return StepFailure{describeMove(staging, target_, *error)};
    }
    return std::nullopt;
}

std::optional<UpdateAssistant::StepFailure> UpdateAssistant::reopen() {
    const ProgramRun run = operations_.runProgram(programs_.openProgram, {target_});
    // The swap is done: the staging name no longer holds anything of this run.
    if (!run.started)
        return StepFailure{"Could not start " + quoted(programs_.openProgram) + " to open " +
                               quoted(target_) + ": " + run.startError,
                           false};
    if (run.exitStatus != 0) return StepFailure{describeExitStatus(run.exitStatus), false};
    return std::nullopt;
}

void UpdateAssistant::failInstall(const std::string& staging, const StepFailure& failure) {
    if (failure.removeStaging) operations_.removeTree(staging);
    finish(failedPrefix + failure.description, true);
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
