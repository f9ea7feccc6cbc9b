// Darwin's renames with flags; Linux's renameat2 and its flags do not exist there.
#include_next <stdio.h>
#ifndef HELPERS_DARWIN_STDIO_OVERLAY
#define HELPERS_DARWIN_STDIO_OVERLAY
#define RENAME_SECLUDE 0x00000001
#define RENAME_SWAP 0x00000002
#define RENAME_EXCL 0x00000004
#ifdef __cplusplus
extern "C" {
#endif
int renamex_np(const char*, const char*, unsigned int)
    __attribute__((availability(macos, introduced = 10.12)));
int renameatx_np(int, const char*, int, const char*, unsigned int)
    __attribute__((availability(macos, introduced = 10.12)));
#ifdef __cplusplus
}
#endif
#undef RENAME_NOREPLACE
#undef RENAME_EXCHANGE
#undef RENAME_WHITEOUT
#pragma GCC poison renameat2 RENAME_NOREPLACE RENAME_EXCHANGE RENAME_WHITEOUT
#endif
