// Darwin's fcntl commands; Linux-only open flags and calls do not exist there.
#include_next <fcntl.h>
#ifndef HELPERS_DARWIN_FCNTL_OVERLAY
#define HELPERS_DARWIN_FCNTL_OVERLAY
#define F_FULLFSYNC 51
#define F_NOCACHE 48
#define F_BARRIERFSYNC 85
#define O_EXLOCK 0x00000020
#define O_SHLOCK 0x00000010
#undef O_PATH
#undef O_TMPFILE
#undef O_DIRECT
#undef O_NOATIME
#undef O_LARGEFILE
#undef F_SETPIPE_SZ
#undef F_GETPIPE_SZ
#undef F_OFD_SETLK
#undef F_OFD_SETLKW
#undef F_OFD_GETLK
#pragma GCC poison O_PATH O_TMPFILE O_DIRECT O_NOATIME O_LARGEFILE F_SETPIPE_SZ F_GETPIPE_SZ
#pragma GCC poison F_OFD_SETLK F_OFD_SETLKW F_OFD_GETLK
#pragma GCC poison fallocate posix_fallocate posix_fadvise sync_file_range
#endif
