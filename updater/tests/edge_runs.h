#pragma once
// Runs shared by the quick and the slow tests: two assistants started together on one target,
// and an assistant killed alone (not its group) at a random instant of a real copy.
#include "e2e_support.h"
#include "temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <thread>

namespace edge_runs {

namespace fs = std::filesystem;

inline const std::string installedPrefix = "Update installed; previous app preserved at ";

// A fresh target holding the old version, with no log and nothing beside it.
inline void installOld(const std::string& oldBundle, const std::string& apps,
                       const std::string& target) {
    fs::remove_all(apps);
    fs::create_directories(apps);
    fs::copy(oldBundle, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// Each pair: two assistants with two sources on one target, started together: both wait for
// one host, which ends only once both have begun (each removes its earlier log first, then takes
// the target's identity), so neither can finish before the other has started, however loaded
// the machine. Exactly one installs and the other refuses. The target then holds the
// installer's whole version, the previous copy the old one, and nothing else is left beside it.
inline void runConcurrentPairs(const std::string& program, int pairs) {
    TempDir dir;
    const std::string apps = dir / "Applications";
    const std::string target = apps + "/Orlavo.app";
    const std::string oldBundle = dir / "old/Orlavo.app";
    const std::string sources[2] = {dir / "one/Orlavo.app", dir / "two/Orlavo.app"};
    const std::string logs[2] = {dir / "one.log", dir / "two.log"};
    makeBundle(oldBundle, "1.0", 128 << 10, 30);
    makeBundle(sources[0], "2.0", 512 << 10, 60);
    makeBundle(sources[1], "3.0", 384 << 10, 90);
    const std::string oldDigest = treeDigest(oldBundle);
    const std::string digests[2] = {treeDigest(sources[0]), treeDigest(sources[1])};
    for (int pair = 0; pair < pairs; ++pair) {
        SCOPED_TRACE("pair " + std::to_string(pair));
        installOld(oldBundle, apps, target);
        for (const std::string& log : logs) {
            std::ofstream earlier(log);
            earlier << "earlier\n";
        }
        Child host = Child::start({"/bin/sleep", "1000"}, "/");
        std::vector<Child> runs;
        runs.reserve(2);
        for (int i = 0; i < 2; ++i)
            runs.push_back(Child::start(
                {program, target, sources[i], std::to_string(host.pid()), logs[i]}, "/"));
        for (int tries = 0; tries < 12000 && (present(logs[0]) || present(logs[1])); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(present(logs[0]) || present(logs[1])) << "one of the pair never started";
        host.killGroup();
        host.wait();
        // The outcome is in the logs; what lingers afterwards (the card's 1 or 6 s) holds nothing
        // and is ended with its group when the pair's scope closes.
        for (const std::string& log : logs)
            ASSERT_TRUE(waitForFile(log, 120.0)) << "no log line from one of the pair";
        const std::string lines[2] = {readText(logs[0]), readText(logs[1])};
        const bool installed[2] = {lines[0].starts_with(installedPrefix),
                                   lines[1].starts_with(installedPrefix)};
        ASSERT_NE(installed[0], installed[1])
            << "not exactly one install: " << lines[0] << " / " << lines[1];
        const int winner = installed[0] ? 0 : 1;
        EXPECT_EQ(lines[1 - winner], "A previous update needs recovery.\n");
        const std::string& line = lines[winner];
        const std::string kept =
            line.substr(installedPrefix.size(), line.size() - installedPrefix.size() - 1);
        EXPECT_EQ(treeDigest(kept), oldDigest) << kept;
        EXPECT_EQ(treeDigest(target), digests[winner]) << "the target holds no whole version";
        EXPECT_EQ(namesStartingWith(apps, "Orlavo.app.update-previous-").size(), 1u);
        EXPECT_FALSE(present(target + ".update-new"));
        EXPECT_TRUE(namesStartingWith(apps, "Orlavo.app.update-ready-").empty());
        if (::testing::Test::HasFailure()) return;
    }
}

} // namespace edge_runs
