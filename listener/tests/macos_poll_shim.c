// Preloaded into the built listener by char_device_output_test.py: poll() answers as macOS's
// does, POLLNVAL at once for every character device (terminal, pty, /dev/null), while pipes,
// sockets and the X connection are polled as usual.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <poll.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>

typedef int (*poll_function)(struct pollfd*, nfds_t, int);

static int is_device(int fd) {
    struct stat status;
    return fd >= 0 && fstat(fd, &status) == 0 && S_ISCHR(status.st_mode);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
    static poll_function real_poll = NULL;
    if (real_poll == NULL) {
        void* found = dlsym(RTLD_NEXT, "poll");
        memcpy(&real_poll, &found, sizeof real_poll); // POSIX: a function's address
    }
    int devices[64];
    nfds_t device_count = 0;
    for (nfds_t i = 0; i < count && i < 64; ++i) {
        devices[i] = is_device(fds[i].fd);
        device_count += devices[i];
    }
    if (device_count == 0 || count > 64) return real_poll(fds, count, timeout);
    // A device in the set: poll() returns at once, the devices marked invalid.
    int saved[64];
    for (nfds_t i = 0; i < count; ++i) {
        saved[i] = fds[i].fd;
        if (devices[i]) fds[i].fd = -1;
    }
    const int polled = real_poll(fds, count, 0);
    if (polled < 0) return polled;
    int ready = 0;
    for (nfds_t i = 0; i < count; ++i) {
        fds[i].fd = saved[i];
        if (devices[i]) fds[i].revents = POLLNVAL;
        ready += fds[i].revents != 0;
    }
    return ready;
}

int __poll_chk(struct pollfd* fds, nfds_t count, int timeout, size_t length) {
    (void)length;
    return poll(fds, count, timeout);
}
