// Signals and calls that Linux has and Darwin does not.
#include_next <signal.h>
#ifndef HELPERS_DARWIN_SIGNAL_OVERLAY
#define HELPERS_DARWIN_SIGNAL_OVERLAY
#undef SIGRTMIN
#undef SIGRTMAX
#undef SIGPOLL
#undef SIGPWR
#undef SIGSTKFLT
#pragma GCC poison SIGRTMIN SIGRTMAX SIGPOLL SIGPWR SIGSTKFLT sigtimedwait sigwaitinfo
#endif
