// Children started from a thread that blocks every asynchronous signal, as macOS's dispatch
// workers do: the program's own end, a signal included, is what the caller is told.
#include "child_start_posix.h"
#include "system_operations.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs work on a new thread whose signal mask blocks every asynchronous signal.
template <typename Work>
void onBlockingThread(Work work) {
    std::thread([&] {
        sigset_t all;
        sigfillset(&all);
        for (int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP})
            sigdelset(&all, synchronous);
        pthread_sigmask(SIG_SETMASK, &all, nullptr);
        work();
    }).join();
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return status;
}

// The wait status of a process that ended as asked: by signal, or with exit code when 0.
int statusOfAnEnd(int signal, int exitCode) {
    const pid_t pid = fork();
    if (pid == 0) {
        unblockAllSignals();
        if (signal != 0) {
            std::signal(signal, SIG_DFL);
            kill(getpid(), signal);
        }
        _exit(exitCode);
    }
    return waitFor(pid);
}

struct End {
    const char* name;
    int signal;
    int exitCode;
};

void PrintTo(const End& end, std::ostream* out) {
    *out << end.name;
}

class StandIn : public ::testing::TestWithParam<End> {};

// A process that stands in for its program (the guardian on macOS) ends the same way, though
// the thread that forked it blocked the signal.
TEST_P(StandIn, EndsTheWayItsProgramEnded) {
    const int original = statusOfAnEnd(GetParam().signal, GetParam().exitCode);
    ASSERT_EQ(WIFSIGNALED(original), GetParam().signal != 0);
    int passedOn = 0;
    onBlockingThread([&] {
        const pid_t pid = fork();
        if (pid == 0) endAsStatusSays(original);
        passedOn = waitFor(pid);
    });
    EXPECT_EQ(WIFSIGNALED(passedOn), WIFSIGNALED(original));
    if (WIFSIGNALED(original))
        EXPECT_EQ(WTERMSIG(passedOn), WTERMSIG(original));
    else
        EXPECT_EQ(WEXITSTATUS(passedOn), WEXITSTATUS(original));
}

INSTANTIATE_TEST_SUITE_P(Table, StandIn,
                         ::testing::Values(End{"Terminated", SIGTERM, 0},
                                           End{"Interrupted", SIGINT, 0}, End{"HungUp", SIGHUP, 0},
                                           End{"BrokenPipe", SIGPIPE, 0},
                                           End{"UserSignal", SIGUSR1, 0}, End{"Killed", SIGKILL, 0},
                                           End{"Success", 0, 0}, End{"ExitCode3", 0, 3}),
                         [](const ::testing::TestParamInfo<End>& info) {
                             return std::string(info.param.name);
                         });

// The copy and open programs run with signals unblocked: a program that ends itself by a signal
// is reported as ended by it, not as the exit code it would reach with the signal held back.
TEST(ChildStart, ProgramEndedByASignalIsReportedSoFromABlockingThread) {
    std::unique_ptr<InstallOperations> ops = makeSystemOperations();
    ProgramRun run;
    onBlockingThread([&] {
        run = ops->runProgram("/bin/sh", {"-c", "kill -TERM $$; exit 3"}, false);
    });
    ASSERT_TRUE(run.started) << run.startError;
    EXPECT_EQ(run.exitStatus, SIGTERM);
}

} // namespace
