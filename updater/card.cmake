# The status card: the portable card model plus one platform layer. Included by CMakeLists.txt
# before the executables are defined; the card's own tests are defined once the directory is done.
set(UPDATER_CARD_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/card_model.cpp)
if(HELPERS_PLATFORM STREQUAL "macos")
    list(APPEND UPDATER_CARD_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/card_macos.mm)
    set(UPDATER_CARD_LIBRARIES "-framework AppKit" "-framework QuartzCore")
    set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/card_macos.mm PROPERTIES
                                COMPILE_OPTIONS "-fobjc-arc")
else()
    pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
    list(APPEND UPDATER_CARD_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/card_gtk.cpp)
    set(UPDATER_CARD_LIBRARIES PkgConfig::GTK3)
endif()

set(updater_card_dir ${CMAKE_CURRENT_SOURCE_DIR})

function(updater_card_tests)
    if(DEFINED BUILD_TESTING AND NOT BUILD_TESTING)
        return()
    endif()
    # The model alone: no toolkit, runs everywhere.
    add_executable(card_model_test ${updater_card_dir}/tests/card_model_test.cpp
                                   ${updater_card_dir}/card_model.cpp)
    target_include_directories(card_model_test PRIVATE ${updater_card_dir})
    target_link_libraries(card_model_test PRIVATE GTest::gtest_main)
    gtest_discover_tests(card_model_test)

    if(NOT HELPERS_PLATFORM STREQUAL "linux")
        return()
    endif()
    set(with_display ${HELPERS_TESTING_DIR}/with-display)
    # GTK keeps caches for the life of the process; leak reports there are not ours.
    set(gtk_env "ASAN_OPTIONS=detect_leaks=0")

    # The GTK layer in process, on a private X server.
    add_executable(card_gtk_test ${updater_card_dir}/tests/card_gtk_test.cpp)
    target_link_libraries(card_gtk_test PRIVATE updater_card GTest::gtest_main Threads::Threads)
    add_test(NAME card_gtk COMMAND ${with_display} -- $<TARGET_FILE:card_gtk_test>)
    set_tests_properties(card_gtk PROPERTIES LABELS integration ENVIRONMENT "${gtk_env}")
    add_test(NAME card_gtk_no_display
             COMMAND env -u DISPLAY -u WAYLAND_DISPLAY $<TARGET_FILE:card_gtk_test>
                     --gtest_filter=NoDisplay.*)
    set_tests_properties(card_gtk_no_display PROPERTIES ENVIRONMENT "${gtk_env}")

    # A card with texts chosen by the test (long texts cannot come from a real update).
    add_executable(card-demo ${updater_card_dir}/tests/card_demo.cpp)
    target_link_libraries(card-demo PRIVATE updater_card Threads::Threads)

    # The real program with a copy program that takes its time, so the card can be watched.
    if(COMMAND add_update_assistant)
        add_update_assistant(update-assistant-card ${updater_card_dir}/tests/card_stub_copy
                             "${UPDATER_COPY_OPTIONS}" /bin/true)
        set(screens ${updater_card_dir}/tests/card_screenshots.py)
        foreach(run light dark prefer-dark long compositor)
            add_test(NAME card_screenshots_${run}
                     COMMAND ${with_display} -- python3 ${screens} ${run}
                             --program $<TARGET_FILE:update-assistant-card>
                             --demo $<TARGET_FILE:card-demo>)
            set_tests_properties(card_screenshots_${run} PROPERTIES LABELS integration
                                 ENVIRONMENT "${gtk_env}" TIMEOUT 120)
        endforeach()
    endif()

    # Time to the first frame and peak memory (run by bench/card_bench.sh, not by ctest).
    pkg_check_modules(CARD_X11 REQUIRED IMPORTED_TARGET x11)
    add_executable(card_first_frame ${updater_card_dir}/bench/card_first_frame.cpp)
    target_link_libraries(card_first_frame PRIVATE PkgConfig::CARD_X11)
endfunction()
cmake_language(DEFER CALL updater_card_tests)
