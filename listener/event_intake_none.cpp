// Builds with no keyboard event source: the listener says so and stops.

#include "event_intake.h"
#include "state.h"

int runEventIntake(ListenerState& state) {
    state.output->err("no keyboard event source in this build\n");
    return 1;
}
