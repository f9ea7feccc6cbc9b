#include "child_start_posix.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

int awaitStartReport(pid_t started, int report) {
    int error = 0;
    ssize_t length = 0;
    while ((length = ::read(report, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report);
    if (length != static_cast<ssize_t>(sizeof error)) return 0;
    while (::waitpid(started, nullptr, 0) < 0 && errno == EINTR) {
    }
    return error;
}

void reportStartFailure(int report, int error) {
    while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

int unblockAllSignals() {
    sigset_t none;
    sigemptyset(&none);
    return ::sigprocmask(SIG_SETMASK, &none, nullptr) == 0 ? 0 : errno;
}

void endAsStatusSays(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::kill(::getpid(), signal);
        ::_exit(128 + signal); // a signal that does not end a process by default
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}
