// Socket flags and calls that Linux has and Darwin does not.
#include_next <sys/socket.h>
#ifndef HELPERS_DARWIN_SOCKET_OVERLAY
#define HELPERS_DARWIN_SOCKET_OVERLAY
#define SO_NOSIGPIPE 0x1022
#undef SOCK_CLOEXEC
#undef SOCK_NONBLOCK
#undef MSG_NOSIGNAL
#pragma GCC poison SOCK_CLOEXEC SOCK_NONBLOCK MSG_NOSIGNAL accept4
#endif
