// Builds with no keyboard event source: the listener says so and stops.

#include "event_intake.h"
#include "streams.h"

int runEventIntake() {
    streams->err("no keyboard event source in this build\n");
    return 1;
}
