// Preloaded by testing/macos-conditions: every thread a process creates starts with every
// asynchronous signal blocked, as macOS's dispatch worker threads do. A child forked from such a
// thread inherits that mask, so it must unblock signals itself before it relies on them. The
// thread that runs main keeps its mask, as on macOS.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>

typedef int (*create_function)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// Faults raised by the thread's own instructions stay deliverable, as on macOS.
static void worker_mask(sigset_t* mask) {
    sigfillset(mask);
    static const int synchronous[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
    for (size_t i = 0; i < sizeof synchronous / sizeof synchronous[0]; ++i)
        sigdelset(mask, synchronous[i]);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
    static create_function real_create = NULL;
    if (real_create == NULL) {
        void* found = dlsym(RTLD_NEXT, "pthread_create");
        memcpy(&real_create, &found, sizeof real_create); // POSIX: a function's address
    }
    sigset_t blocked, previous;
    worker_mask(&blocked);
    pthread_sigmask(SIG_SETMASK, &blocked, &previous);
    const int result = real_create(thread, attributes, start, argument);
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    return result;
}
