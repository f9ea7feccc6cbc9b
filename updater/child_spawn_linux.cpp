// Linux: the child asks the kernel for SIGKILL when the thread that started it ends
// (PR_SET_PDEATHSIG). The worker that starts a child waits for it, so that thread ends only when
// the assistant itself is ended.
#include "child_spawn.h"
#include "child_start_posix.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Between fork and exec only async-signal-safe calls: the assistant has other threads.
[[noreturn]] void becomeChild(pid_t assistant, int nullDevice, int errorOutput, int report,
                              const char* program, char* const argv[], char* const envp[]) {
    int error = 0;
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) error = errno;
    // The assistant ended before the request took hold: nothing is started.
    if (::getppid() != assistant) ::_exit(127);
    // Copies above the standard numbers first, so that placing one cannot close another.
    const int input = ::fcntl(nullDevice, F_DUPFD_CLOEXEC, 3);
    const int errors = ::fcntl(errorOutput >= 0 ? errorOutput : nullDevice, F_DUPFD_CLOEXEC, 3);
    if (!error && (input < 0 || errors < 0)) error = errno;
    if (!error && (::dup2(input, 0) < 0 || ::dup2(input, 1) < 0 || ::dup2(errors, 2) < 0))
        error = errno;
    if (!error) error = unblockAllSignals();
    if (!error) {
        ::execve(program, argv, envp);
        error = errno;
    }
    reportStartFailure(report, error);
}

} // namespace

int startChildTiedToAssistant(pid_t& child, const char* program, char* const argv[],
                              char* const envp[], int errorOutput) {
    const int nullDevice = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nullDevice < 0) return errno;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(nullDevice);
        return error;
    }
    // The report pipe closes at exec: no bytes mean the program runs.
    const int error = forkAndAwaitStart(child, report, [&](pid_t assistant, int reportEnd) {
        becomeChild(assistant, nullDevice, errorOutput, reportEnd, program, argv, envp);
    });
    ::close(nullDevice);
    return error;
}
