// Calls that glibc has and Darwin's C library lacks.
#include_next <unistd.h>
#ifndef HELPERS_DARWIN_UNISTD_OVERLAY
#define HELPERS_DARWIN_UNISTD_OVERLAY
#pragma GCC poison syncfs pipe2 dup3 execvpe gettid closefrom close_range copy_file_range
#pragma GCC poison get_current_dir_name euidaccess
#endif
