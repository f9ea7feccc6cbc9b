// update-assistant-open: the Linux open program of update-assistant.
//
//     update-assistant-open BUNDLE
//
// A Linux bundle is a directory in the manner of an AppDir: it holds Contents/ and an executable
// AppRun at its root. This starts BUNDLE/AppRun with no arguments, detached from the caller: in a
// session of its own (so the caller's end or a signal to its group cannot reach it), with
// /dev/null as its three standard streams and no other descriptor of the caller, "/" as its
// working directory, default signal handling and the environment this program was given. It
// exits 0 once AppRun has been executed, and otherwise with a non-zero status and one line on
// standard error saying why:
//   2    not exactly one argument
//   126  AppRun is not a file this user may execute, or executing it failed
//   127  there is no AppRun in BUNDLE
//   71   the system refused a process or a pipe
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int usageStatus = 2;
constexpr int systemStatus = 71;
constexpr int notExecutableStatus = 126;
constexpr int missingStatus = 127;

int fail(int status, const std::string& reason) {
    std::fprintf(stderr, "update-assistant-open: %s\n", reason.c_str());
    return status;
}

std::string quoted(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

// The checks that give a clear reason before anything is started; exec has the last word.
int checkAppRun(const std::string& appRun) {
    struct stat info {};
    if (::stat(appRun.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return fail(missingStatus, "no AppRun in the bundle: " + quoted(appRun));
        return fail(notExecutableStatus,
                    "cannot reach " + quoted(appRun) + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) return fail(notExecutableStatus, quoted(appRun) + " is not a file");
    if (::access(appRun.c_str(), X_OK) != 0)
        return fail(notExecutableStatus, quoted(appRun) + " is not executable");
    return 0;
}

void writeErrno(int fd, int error) {
    while (::write(fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
}

void closeOnExecFrom(int first) {
    if (::close_range(static_cast<unsigned>(first), ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = first; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// In the grandchild: everything the application must not inherit, then exec. Only
// async-signal-safe calls; on failure the errno goes to the parent through the pipe.
[[noreturn]] void execDetached(const char* appRun, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal)
        ::signal(signal, SIG_DFL); // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 ||
        ::chdir("/") != 0) {
        writeErrno(reportFd, errno);
        ::_exit(1);
    }
    if (null > 2) ::close(null);
    closeOnExecFrom(3); // the caller's other descriptors (pipes of the host) stay behind
    char* const argv[] = {const_cast<char*>(appRun), nullptr};
    ::execve(appRun, argv, environ);
    writeErrno(reportFd, errno);
    ::_exit(1);
}

// Two forks: the middle process leads the new session and ends at once, so the application is
// no session leader (it can never take a controlling terminal) and is nobody's child here.
int launch(const std::string& appRun) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return fail(systemStatus, std::string("no pipe: ") + std::strerror(errno));
    const pid_t middle = ::fork();
    if (middle < 0) return fail(systemStatus, std::string("no process: ") + std::strerror(errno));
    if (middle == 0) {
        ::close(report[0]);
        const pid_t application = ::setsid() < 0 ? -1 : ::fork();
        if (application == 0) execDetached(appRun.c_str(), report[1]);
        if (application < 0) writeErrno(report[1], -errno); // negative: no process to be had
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file with nothing read: exec succeeded and closed the last writer.
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got == 0) return 0;
    if (got != static_cast<ssize_t>(sizeof error))
        return fail(systemStatus, "the start of " + quoted(appRun) + " was not reported");
    if (error < 0) return fail(systemStatus, std::string("no process: ") + std::strerror(-error));
    return fail(notExecutableStatus,
                "cannot start " + quoted(appRun) + ": " + std::strerror(error));
}

// The bundle's AppRun as an absolute path, since the application starts in "/".
std::string appRunOf(std::string bundle) {
    while (bundle.size() > 1 && bundle.back() == '/')
        bundle.pop_back();
    if (!bundle.starts_with('/')) {
        char directory[4096];
        if (::getcwd(directory, sizeof directory)) bundle = std::string(directory) + "/" + bundle;
    }
    return bundle + "/AppRun";
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc != 2) return fail(usageStatus, "usage: update-assistant-open BUNDLE");
        const std::string appRun = appRunOf(argv[1]);
        if (const int status = checkAppRun(appRun)) return status;
        return launch(appRun);
    } catch (...) {
        return fail(systemStatus, "out of memory");
    }
}
