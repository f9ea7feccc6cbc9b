#include "termination_linux.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t termRequested = 0;
std::array<int, 2> wakePipe{-1, -1};

extern "C" void noteTermination(int) {
    termRequested = 1;
    const int saved = errno;
    const char byte = 1;
    // A full pipe already wakes the loop; the result is not needed.
    [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool TerminationRequest::install() {
    if (wakePipe[0] < 0 && ::pipe2(wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe = {-1, -1};
        return false;
    }
    struct sigaction action {};
    action.sa_handler = noteTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0;
}

int TerminationRequest::fd() const {
    return wakePipe[0];
}

bool TerminationRequest::requested() {
    if (wakePipe[0] >= 0) {
        std::array<char, 64> bytes{};
        while (::read(wakePipe[0], bytes.data(), bytes.size()) > 0) {
        }
    }
    return termRequested != 0;
}

void TerminationRequest::endBySignal() {
    std::signal(SIGTERM, SIG_DFL);
    std::raise(SIGTERM);
    // SIGTERM blocked by the parent: end with the status a shell gives a terminated process.
    std::_Exit(128 + SIGTERM);
}
