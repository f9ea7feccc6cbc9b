# Cross "toolchain" for the macOS pre-check: Debian's clang and libc++ aimed at arm64 macOS 13,
# with this folder's declaration headers in place of Apple's SDK and glibc (arm64) standing in
# for Darwin's C library. It can configure and syntax-check, never link: there is no Apple linker.
# HELPERS_DARWIN_PORTABLE_LIBS (environment) names a folder with the portable libraries' headers.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_OSX_ARCHITECTURES arm64 CACHE STRING "")
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/include CACHE PATH "")

set(helpers_llvm /usr/lib/llvm-16)
set(helpers_target arm64-apple-macos13)
set(CMAKE_C_COMPILER ${helpers_llvm}/bin/clang)
set(CMAKE_CXX_COMPILER ${helpers_llvm}/bin/clang++)
set(CMAKE_OBJCXX_COMPILER ${helpers_llvm}/bin/clang++)
set(CMAKE_C_COMPILER_TARGET ${helpers_target})
set(CMAKE_CXX_COMPILER_TARGET ${helpers_target})
set(CMAKE_OBJCXX_COMPILER_TARGET ${helpers_target})
set(CMAKE_AR ${helpers_llvm}/bin/llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${helpers_llvm}/bin/llvm-ranlib CACHE FILEPATH "")
# Used only when installing, which this configuration never does.
set(CMAKE_INSTALL_NAME_TOOL /bin/true CACHE FILEPATH "")
# Nothing can be linked, so the compiler checks build static libraries only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(helpers_decls ${CMAKE_CURRENT_LIST_DIR})
set(helpers_c_includes
    "-nostdlibinc -isystem ${helpers_decls}/libc-overlay -isystem ${helpers_decls}/include")
set(helpers_libc "-isystem /usr/aarch64-linux-gnu/include")
if(DEFINED ENV{HELPERS_DARWIN_PORTABLE_LIBS})
    set(helpers_libs "-isystem $ENV{HELPERS_DARWIN_PORTABLE_LIBS}")
else()
    set(helpers_libs "")
endif()
set(helpers_limits
    "-include ${helpers_decls}/back-deployment.h -Werror=unguarded-availability-new")
set(CMAKE_C_FLAGS_INIT "${helpers_c_includes} ${helpers_libc} ${helpers_libs}")
set(helpers_cxx_flags "-nostdinc++ ${helpers_c_includes} -isystem ${helpers_llvm}/include/c++/v1")
set(helpers_cxx_flags "${helpers_cxx_flags} ${helpers_libc} ${helpers_libs} ${helpers_limits}")
set(CMAKE_CXX_FLAGS_INIT "${helpers_cxx_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${helpers_cxx_flags} -fblocks")

# The host's packages are found for configuring only (their headers come through
# HELPERS_DARWIN_PORTABLE_LIBS); the host's own include folder never reaches a compile line.
set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)
foreach(lang C CXX OBJCXX)
    set(CMAKE_${lang}_IMPLICIT_INCLUDE_DIRECTORIES /usr/include)
endforeach()
