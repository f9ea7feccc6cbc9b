// clang predefines __nonnull as a nullability keyword for Darwin; glibc uses the name as a macro.
#undef __nonnull
#include_next <sys/cdefs.h>
