#pragma once
// One run of the install procedure on the fake file system: an installed bundle (v1), a verified
// one (v2), an earlier log line, and the texts and names a run is judged by.
#include "fakes.h"
#include "update_assistant.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace install_run {

const std::string apps = "/apps";
const std::string target = "/apps/Orlavo.app";
const std::string source = "/dl/Orlavo.app";
const std::string logPath = "/logs/update.log";
const std::string staging = target + ".update-new";
const std::string previous = target + ".update-previous-1700000000";
// The staging folder is the run's first new entry, inode 77; the ready name carries it.
const std::string ready = target + ".update-ready-77";
const std::string installedLine = "Update installed; previous app preserved at " + previous;

const Screen::Texts copyingTexts{"Installing update", "Copying the verified app\u2026"};
const Screen::Texts readyTexts{"Opening Orlavo", "Your update is ready."};
const Screen::Texts failedTexts{"Update could not finish",
                                "Your current app is still available. Try again."};

// What each name in a folder holds (FakeOperations::namesIn).
using Names = std::map<std::string, std::string>;
const Names untouched = {{"Orlavo.app", "v1"}};
const Names installed = {{"Orlavo.app", "v2"}, {"Orlavo.app.update-previous-1700000000", "v1"}};

inline std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}
inline std::string exitError(int status) {
    return "The operation couldn\u2019t be completed. (OrlavoUpdater error " +
           std::to_string(status) + ".)";
}

class InstallRun : public ::testing::Test {
  protected:
    FakeOperations operations;
    Screen screen;
    FakeMainLoop mainLoop{screen};

    void SetUp() override {
        for (const char* folder : {"/apps", "/dl", "/logs", "/wd", "/home", "/home/user"})
            operations.folder(folder);
        operations.bundle(target, "v1");
        operations.bundle(source, "v2");
        operations.file(logPath, "an earlier run's line\n");
    }

    // The whole launch: card, worker, install, finish.
    void launch(const std::string& parentID = "0", const std::string& targetArgument = target,
                const std::string& workingDirectory = "/wd") {
        operations.nextInode = 77;
        UpdateAssistant assistant(
            {"update-assistant", targetArgument, source, parentID, logPath}, workingDirectory,
            std::make_unique<FakeCard>(screen),
            {operations, mainLoop, {"/stub/copy", {"-aT", "--"}, "/stub/open"}});
        assistant.applicationDidFinishLaunching();
    }

    std::optional<std::string> logLine() const { return operations.fileAt(logPath); }
    Names beside() const { return operations.namesIn(apps); }
    bool copyStarted() const {
        const auto& journal = operations.journal;
        return std::find(journal.begin(), journal.end(), "run /stub/copy") != journal.end();
    }
};

} // namespace install_run
