// Darwin's C library shows its BSD, POSIX and X/Open names without feature macros; glibc needs
// these. They do not show the GNU extensions, which Darwin does not have.
#ifndef _DEFAULT_SOURCE
#define _DEFAULT_SOURCE 1
#endif
#ifndef _XOPEN_SOURCE
#define _XOPEN_SOURCE 700
#endif
#include_next <features.h>
