#include "startup.h"

#include "event_intake.h"
#include "lock_state.h"
#include "self_test.h"
#include "state.h"
#include "streams.h"

#include <csignal>
#include <cstdio>

int runListener(const std::vector<std::string>& args) {
    std::setbuf(stdout, nullptr);
    // A closed pipe shows as EPIPE from write(), which ends the process quietly.
    std::signal(SIGPIPE, SIG_IGN);
    const Options options = readOptions(args);

    globeKey = 63;
    capsKey = 57;
    optionAlias = options.optionAlias;
    selfTesting = options.selfTest;
    observed.clear();
    restoredStates.clear();
    hidConnection = nullptr;
    // Held for the life of the process; never released.
    static std::unique_ptr<LockState> connection;
    if (!selfTesting) {
        connection = openLockState();
        hidConnection = connection.get();
    }
    capsLock = (sessionFlags() & kFlagCapsLock) != 0;
    recording = options.record;
    bindings = options.bindingsText ? decodeBindings(*options.bindingsText) : BindingMap{};
    customArmed.clear();
    recordingWeight = 0;
    globeDown = fnCmdArmed = translateArmed = false;

    if (selfTesting) {
        if (!selfTestPasses()) return 1;
        streams->out(kSelfTestPassLine);
        return 0;
    }
    return runEventIntake();
}
