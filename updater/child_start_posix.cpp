#include "child_start_posix.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

int forkAndAwaitStart(pid_t& started, const int report[2], const StartInFork& start) {
    const pid_t assistant = ::getpid();
    const pid_t forked = ::fork();
    if (forked == 0) {
        start(assistant, report[1]);
        ::_exit(127);
    }
    const int forkError = forked < 0 ? errno : 0;
    ::close(report[1]);
    if (forkError != 0) {
        ::close(report[0]);
        return forkError;
    }
    int error = 0;
    ssize_t length = 0;
    while ((length = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (length != static_cast<ssize_t>(sizeof error)) {
        started = forked;
        return 0;
    }
    while (::waitpid(forked, nullptr, 0) < 0 && errno == EINTR) {
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
