// kqueue and kevent, transcribed by hand from the kqueue(2) manual page of macOS: only what the
// update assistant's child watch uses (process exit notes).
#ifndef HELPERS_DARWIN_SYS_EVENT_H
#define HELPERS_DARWIN_SYS_EVENT_H

#include <stdint.h>
#include <sys/types.h>
#include <time.h>

struct kevent {
    uintptr_t ident; // identifier for this event
    int16_t filter;  // filter for event
    uint16_t flags;  // general flags
    uint32_t fflags; // filter-specific flags
    intptr_t data;   // filter-specific data
    void* udata;     // opaque user data identifier
};

#define EVFILT_PROC (-5)

#define EV_ADD 0x0001
#define EV_DELETE 0x0002
#define EV_ENABLE 0x0004
#define EV_DISABLE 0x0008
#define EV_ONESHOT 0x0010
#define EV_CLEAR 0x0020
#define EV_ERROR 0x4000
#define EV_EOF 0x8000

#define NOTE_EXIT 0x80000000U

#define EV_SET(kevp, a, b, c, d, e, f)                                                             \
    do {                                                                                           \
        struct kevent* __kevp__ = (kevp);                                                          \
        __kevp__->ident = (a);                                                                     \
        __kevp__->filter = (b);                                                                    \
        __kevp__->flags = (c);                                                                     \
        __kevp__->fflags = (d);                                                                    \
        __kevp__->data = (e);                                                                      \
        __kevp__->udata = (f);                                                                     \
    } while (0)

#ifdef __cplusplus
extern "C" {
#endif
int kqueue(void);
int kevent(int kq, const struct kevent* changelist, int nchanges, struct kevent* eventlist,
           int nevents, const struct timespec* timeout);
#ifdef __cplusplus
}
#endif

#endif
