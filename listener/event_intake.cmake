# The event sources of shortcut-listener, included by listener/CMakeLists.txt: sets
# LISTENER_INTAKE_SOURCES and LISTENER_INTAKE_LIBRARIES for HELPERS_PLATFORM, and adds the
# event sources' tests and latency benchmark.

set(intake_dir ${CMAKE_CURRENT_LIST_DIR})

if(HELPERS_PLATFORM STREQUAL "macos")
    set(LISTENER_INTAKE_SOURCES
        ${intake_dir}/event_intake_macos.mm
        ${intake_dir}/tap_logic.cpp
    )
    set(LISTENER_INTAKE_LIBRARIES
        "-framework AppKit" "-framework ApplicationServices" "-framework CoreFoundation")
else()
    pkg_check_modules(INTAKE_X11 REQUIRED IMPORTED_TARGET x11 xi xkbcommon)
    # Tests and benchmark inject keys through XTest.
    pkg_check_modules(INTAKE_XTEST REQUIRED IMPORTED_TARGET x11 xtst)
    set(LISTENER_INTAKE_SOURCES
        ${intake_dir}/event_intake_x11.cpp
        ${intake_dir}/intake_keys_x11.cpp
        ${intake_dir}/key_labels_x11.cpp
        ${intake_dir}/keymap.cpp
    )
    set(LISTENER_INTAKE_LIBRARIES PkgConfig::INTAKE_X11)
endif()

include(${intake_dir}/tests/intake_tests.cmake)
include(${intake_dir}/bench/intake_bench.cmake)
