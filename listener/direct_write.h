#pragma once
// Writing to descriptors that poll() cannot watch. macOS's poll() answers POLLNVAL for every
// device (terminals, ptys, /dev/null), so lines for such a descriptor are written directly,
// without blocking, instead of waiting for poll() to say there is room.

#include <cstddef>
#include <sys/types.h>

// True when fd is an open character device (a terminal, a pty, /dev/null).
bool isCharacterDevice(int fd);

// True when fd is an open descriptor.
bool isOpenDescriptor(int fd);

// One write of at most size bytes that never blocks. Returns what write() returns; -1 with
// errno EAGAIN means "not yet". The descriptor itself is left in the mode it had, since other
// processes may share it: a terminal is written through a description of its own.
ssize_t writeWithoutBlocking(int fd, const char* data, size_t size);
