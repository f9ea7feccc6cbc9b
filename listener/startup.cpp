#include "startup.h"

#include "event_codes.h"
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

    listener = ListenerState{};
    listener.optionAlias = options.optionAlias;
    listener.selfTesting = options.selfTest;
    // Held for the life of the process; never released.
    static std::unique_ptr<LockState> connection;
    if (!listener.selfTesting) {
        connection = openLockState();
        listener.hidConnection = connection.get();
    }
    listener.capsLock = (sessionFlags() & kFlagCapsLock) != 0;
    listener.recording = options.record;
    if (options.bindingsText) listener.bindings = decodeBindings(*options.bindingsText);

    if (listener.selfTesting) {
        if (!selfTestPasses()) return 1;
        listener.output->out(kSelfTestPassLine);
        processStreams().drain();
        return 0;
    }
    const int status = runEventIntake(listener);
    processStreams().drain();
    return status;
}
