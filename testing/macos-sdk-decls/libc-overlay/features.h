// Darwin's C library shows its BSD and POSIX names without feature macros; glibc needs this one.
// It does not show the GNU extensions, which Darwin does not have.
#ifndef _DEFAULT_SOURCE
#define _DEFAULT_SOURCE 1
#endif
#include_next <features.h>
