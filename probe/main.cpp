// selection-probe: prints the focused element's selection as one JSON object, exits 0.

#include "accessibility.h"
#include "out.h"
#include "selection.h"

#include <csignal>
#include <unistd.h>

int main() {
    // A closed standard output must not kill the probe; the write then simply fails.
    std::signal(SIGPIPE, SIG_IGN);
    Out out;
    try {
        // The service and every reference are gone before the record is written.
        std::unique_ptr<Accessibility> ax = makeAccessibility();
        out = probeSelection(*ax);
    } catch (...) {
        // Only memory exhaustion can get here; the record keeps what was decided so far.
    }
    writeOut(STDOUT_FILENO, out);
    return 0;
}
