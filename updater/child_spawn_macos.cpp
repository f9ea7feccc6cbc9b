// macOS has no parent-death signal. A small guardian, forked from the assistant, starts the
// program and watches both with kqueue (EVFILT_PROC, NOTE_EXIT): should the assistant end first,
// the guardian kills the program. It then ends the way the program ended, so the assistant's
// wait reads the program's own status.
#include "child_spawn.h"
#include "child_start_posix.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/event.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the guardian needs, all made before fork: after it only system calls are made.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    bool actionsMade = false;
    bool attributesMade = false;

    int prepare(int errorOutput) {
        if (int error = ::posix_spawn_file_actions_init(&actions)) return error;
        actionsMade = true;
        if (int error = ::posix_spawnattr_init(&attributes)) return error;
        attributesMade = true;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL); // their actions cannot be set
        sigdelset(&all, SIGSTOP);
        int error = ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (!error)
            error = ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (!error && errorOutput >= 0)
            error = ::posix_spawn_file_actions_adddup2(&actions, errorOutput, 2);
        if (!error && errorOutput < 0)
            error = ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // The program starts with no signal blocked or ignored, whatever the assistant's
        // thread had.
        if (!error) error = ::posix_spawnattr_setsigmask(&attributes, &none);
        if (!error) error = ::posix_spawnattr_setsigdefault(&attributes, &all);
        if (!error)
            error = ::posix_spawnattr_setflags(&attributes,
                                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        return error;
    }
    ~SpawnSetup() {
        if (attributesMade) ::posix_spawnattr_destroy(&attributes);
        if (actionsMade) ::posix_spawn_file_actions_destroy(&actions);
    }
};

bool watchExit(int queue, pid_t process) {
    struct kevent change;
    EV_SET(&change, static_cast<uintptr_t>(process), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
           nullptr);
    return ::kevent(queue, &change, 1, nullptr, 0, nullptr) == 0;
}

[[noreturn]] void guard(pid_t assistant, const SpawnSetup& setup, int report, const char* program,
                        char* const argv[], char* const envp[]) {
    // Forked from a worker thread, the guardian has every signal blocked: the signal it passes
    // on at its end must reach it.
    if (const int error = unblockAllSignals()) reportStartFailure(report, error);
    const int queue = ::kqueue();
    if (queue < 0) reportStartFailure(report, errno);
    // Watched before the start: an assistant gone by then starts nothing.
    if (!watchExit(queue, assistant) || ::getppid() != assistant) ::_exit(127);
    pid_t started = 0;
    const int error =
        ::posix_spawn(&started, program, &setup.actions, &setup.attributes, argv, envp);
    if (error != 0) reportStartFailure(report, error);
    ::close(report);
    // A program that has already ended cannot be watched (ESRCH), and one that ends while the
    // watch is armed may not fire it: either way its wait follows at once.
    int status = 0;
    pid_t ended = 0;
    if (watchExit(queue, started) && (ended = ::waitpid(started, &status, WNOHANG)) == 0) {
        struct kevent fired;
        int count = 0;
        while ((count = ::kevent(queue, nullptr, 0, &fired, 1, nullptr)) < 0 && errno == EINTR) {
        }
        if (count == 1 && fired.ident == static_cast<uintptr_t>(assistant))
            ::kill(started, SIGKILL);
    }
    while (ended != started && (ended = ::waitpid(started, &status, 0)) < 0) {
        if (errno != EINTR) ::_exit(127);
    }
    endAsStatusSays(status);
}

} // namespace

int startChildTiedToAssistant(pid_t& child, const char* program, char* const argv[],
                              char* const envp[], int errorOutput) {
    SpawnSetup setup;
    if (int error = setup.prepare(errorOutput)) return error;
    int report[2];
    if (::pipe(report) != 0) return errno;
    ::fcntl(report[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
    // The guardian closes its end once the program runs: no bytes mean it started.
    return forkAndAwaitStart(child, report, [&](pid_t assistant, int reportEnd) {
        guard(assistant, setup, reportEnd, program, argv, envp);
    });
}
