// Availability and nullability spellings shared by the declarations in this folder.
#pragma once

#define API_AVAILABLE(...)                                                                         \
    __attribute__((availability(macos, introduced = __API_MACOS_##__VA_ARGS__)))
#define __API_MACOS_macos(v) v
#define API_DEPRECATED(...)
#define API_UNAVAILABLE(...)

#ifdef __cplusplus
#define __BEGIN_DECLS extern "C" {
#define __END_DECLS }
#else
#define __BEGIN_DECLS
#define __END_DECLS
#endif

#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_ASSUME_NONNULL_BEGIN CF_ASSUME_NONNULL_BEGIN
#define NS_ASSUME_NONNULL_END CF_ASSUME_NONNULL_END

#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_RETURNS_NOT_RETAINED __attribute__((cf_returns_not_retained))
#define CF_INLINE static inline __attribute__((always_inline))
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#define CF_BRIDGED_MUTABLE_TYPE(T) __attribute__((objc_bridge_mutable(T)))

// Typed enumerations as the frameworks declare them. Option sets are plain integers in C++, so
// that or-ing two options gives a value of the option type.
#define CF_ENUM(_type, _name)                                                                      \
    enum _name : _type _name;                                                                      \
    enum _name : _type
#ifdef __cplusplus
#define CF_OPTIONS(_type, _name)                                                                   \
    _type _name;                                                                                   \
    enum __attribute__((flag_enum)) : _type
#else
#define CF_OPTIONS(_type, _name)                                                                   \
    enum _name : _type _name;                                                                      \
    enum __attribute__((flag_enum)) _name : _type
#endif
#define NS_ENUM(_type, _name) CF_ENUM(_type, _name)
#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)
