// dyld: the main executable's path, transcribed by hand from the dyld(3) manual page of macOS:
// 0 when the path was copied (the size left unchanged), -1 when the buffer is too small (the
// size then set to the one required, terminating NUL included). The path may go through a link.
#pragma once
#include <stdint.h>
#include <sys/cdefs.h>

__BEGIN_DECLS
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);
__END_DECLS
