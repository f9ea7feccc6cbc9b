#pragma once
// The listener's process entry: reads the command line, sets up the listener state, then runs
// the self-test or event intake.

#include <string>
#include <vector>

struct Options {
    bool optionAlias = false;
    bool selfTest = false;
    bool record = false;
    // The argument after the first "--bindings", when there is one.
    const std::string* bindingsText = nullptr;
};

// Options are whole arguments, looked for anywhere (the program path included); others are
// ignored. The returned pointer refers into args.
Options readOptions(const std::vector<std::string>& args);

// Runs the whole program and gives its exit status.
int runListener(const std::vector<std::string>& args);
