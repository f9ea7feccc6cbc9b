// The limits of the C++ library that macOS 13 ships, as availability attributes, so that a use
// the system cannot load fails here. Forced into every C++ and Objective-C++ file of the check.
// Apple's libc++ marks floating-point to_chars (13.3) itself; the polymorphic memory resources
// (14.0) it leaves unmarked, so a program using them builds and then fails to launch on 13.
// Only declarations come first: the library's own declarations, later, inherit the attributes,
// and no file pays for headers it does not include.
#pragma once
#ifdef __cplusplus
#include <__config>

#define HELPERS_MACOS_NEEDS(version) __attribute__((availability(macos, introduced = version)))

_LIBCPP_BEGIN_NAMESPACE_STD
namespace pmr {
class HELPERS_MACOS_NEEDS(14.0) memory_resource;
class HELPERS_MACOS_NEEDS(14.0) monotonic_buffer_resource;
class HELPERS_MACOS_NEEDS(14.0) synchronized_pool_resource;
class HELPERS_MACOS_NEEDS(14.0) unsynchronized_pool_resource;
template <class _ValueType>
class HELPERS_MACOS_NEEDS(14.0) polymorphic_allocator;
HELPERS_MACOS_NEEDS(14.0) memory_resource* get_default_resource() noexcept;
HELPERS_MACOS_NEEDS(14.0) memory_resource* set_default_resource(memory_resource*) noexcept;
HELPERS_MACOS_NEEDS(14.0) memory_resource* new_delete_resource() noexcept;
HELPERS_MACOS_NEEDS(14.0) memory_resource* null_memory_resource() noexcept;
} // namespace pmr

struct to_chars_result;
enum class chars_format;
#define HELPERS_TO_CHARS(type)                                                                     \
    HELPERS_MACOS_NEEDS(13.3) to_chars_result to_chars(char*, char*, type);                        \
    HELPERS_MACOS_NEEDS(13.3) to_chars_result to_chars(char*, char*, type, chars_format);          \
    HELPERS_MACOS_NEEDS(13.3) to_chars_result to_chars(char*, char*, type, chars_format, int);
HELPERS_TO_CHARS(float)
HELPERS_TO_CHARS(double)
HELPERS_TO_CHARS(long double)
#undef HELPERS_TO_CHARS
_LIBCPP_END_NAMESPACE_STD
#endif
