#pragma once
// The application delegate of update-assistant: it holds the four argument fields and the status
// card, shows the card at launch and runs the install procedure once on a background worker.

#include "install_operations.h"
#include "main_loop.h"
#include "status_card.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The child programs, as the build configures them.
struct ChildPrograms {
    std::string copyProgram;              // started with copyOptions, source, staging copy
    std::vector<std::string> copyOptions; // placed before the two paths
    std::string openProgram;              // started with the target path
};

// A program named by a relative path lives beside the executable (the shipped open program is
// installed next to the assistant). Without an executable path ("") it becomes "", which no
// system can start, so a file of that name in the working directory is never run.
ChildPrograms locatedBeside(ChildPrograms programs, const std::string& executable);

// Where the platform lives for one assistant: all three outlive the assistant.
struct AssistantServices {
    InstallOperations& operations;
    MainLoop& mainLoop;
    ChildPrograms programs;
};

class UpdateAssistant {
  public:
    // arguments: program path then the four positional arguments (the caller has checked the
    // count). Relative paths are taken against workingDirectory.
    UpdateAssistant(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                    std::unique_ptr<StatusCard> card, AssistantServices services);

    // Main thread, once, after the loop has started: shows the card, then starts install on the
    // worker without delay.
    void applicationDidFinishLaunching();

    const std::string& target() const { return target_; }
    const std::string& source() const { return source_; }
    int32_t parentID() const { return parentID_; }
    const std::string& log() const { return log_; }

  private:
    // A failed copy, swap or reopen: the error's description, and the name that holds only
    // this run's copy of the new version and is removed ("" when there is none).
    struct StepFailure {
        std::string description;
        std::string removable;
    };

    // Worker thread. Ends every path with finish().
    void install();
    void finish(const std::string& message, bool failed);
    void setStatus(std::string headline, std::string detail);

    // True once the host is gone; false when it is still there at the deadline.
    bool waitForHost(double deadline);
    // Why the target must not be replaced, or nothing.
    std::optional<std::string> refusalOfTarget();
    bool leftoversExist(const std::string& staging, const std::string& previous);
    std::optional<std::string> refusalOfLongName(const std::string& previous);
    std::optional<std::string> claimStaging(const std::string& staging,
                                            const std::string& previous);
    // True when the entry at the target is no longer the one found at start.
    bool targetReplaced();
    std::optional<StepFailure> copyToStaging(const std::string& source, const std::string& staging);
    std::optional<StepFailure> makeReady(const std::string& staging, std::string& ready);
    std::optional<StepFailure> swapIn(const std::string& ready, const std::string& previous);
    std::optional<StepFailure> moveAsideThenIn(const std::string& ready,
                                               const std::string& previous);
    std::optional<StepFailure> reopen();
    void failInstall(const StepFailure& failure);

    std::unique_ptr<StatusCard> card_;
    std::string target_;
    std::string source_;
    int32_t parentID_;
    std::string log_;
    std::string workingDirectory_;
    // The target's device and inode when the run started; nothing when it was missing.
    std::optional<DeviceAndInode> targetAtStart_;
    InstallOperations& operations_;
    MainLoop& mainLoop_;
    ChildPrograms programs_;
};
