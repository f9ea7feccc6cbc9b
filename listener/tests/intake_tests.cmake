# Tests of the event sources. The unit tests need no display; the end-to-end test drives the
# built shortcut-listener on a private Xvfb (label integration).

set(intake_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_executable(intake_unit_tests
    ${intake_tests_dir}/tap_logic_test.cpp
    ${intake_tests_dir}/keymap_test.cpp
    ${intake_dir}/tap_logic.cpp
    ${intake_dir}/keymap.cpp
)
if(HELPERS_PLATFORM STREQUAL "linux")
    target_sources(intake_unit_tests PRIVATE
        ${intake_tests_dir}/intake_keys_test.cpp
        ${intake_tests_dir}/key_labels_test.cpp
        ${intake_dir}/intake_keys_x11.cpp
        ${intake_dir}/key_labels_x11.cpp
    )
    target_link_libraries(intake_unit_tests PRIVATE PkgConfig::INTAKE_X11)
endif()
target_include_directories(intake_unit_tests PRIVATE ${intake_dir})
target_link_libraries(intake_unit_tests PRIVATE GTest::gtest_main)
gtest_discover_tests(intake_unit_tests DISCOVERY_TIMEOUT 60)

if(HELPERS_PLATFORM STREQUAL "linux")
    add_executable(intake_end_to_end_tests
        ${intake_tests_dir}/intake_end_to_end_test.cpp
        ${intake_tests_dir}/intake_x_session.cpp
    )
    target_link_libraries(intake_end_to_end_tests PRIVATE PkgConfig::INTAKE_XTEST GTest::gtest)
    add_dependencies(intake_end_to_end_tests shortcut-listener)
    add_test(NAME intake_end_to_end
             COMMAND ${HELPERS_TESTING_DIR}/with-display --
                     $<TARGET_FILE:intake_end_to_end_tests> $<TARGET_FILE:shortcut-listener>)
    set_tests_properties(intake_end_to_end PROPERTIES LABELS integration TIMEOUT 300)
endif()

if(HELPERS_PLATFORM STREQUAL "linux")
    # Release orders, overlapping listeners, moved keys and layout groups, bursts.
    add_executable(intake_host_cases_tests
        ${intake_tests_dir}/intake_host_cases_test.cpp
        ${intake_tests_dir}/intake_raw_counter.cpp
        ${intake_tests_dir}/intake_x_session.cpp
    )
    target_link_libraries(intake_host_cases_tests PRIVATE PkgConfig::INTAKE_XTEST
                          PkgConfig::INTAKE_X11 GTest::gtest)
    add_dependencies(intake_host_cases_tests shortcut-listener)
    add_test(NAME intake_host_cases
             COMMAND ${HELPERS_TESTING_DIR}/with-display --
                     $<TARGET_FILE:intake_host_cases_tests> $<TARGET_FILE:shortcut-listener>)
    set_tests_properties(intake_host_cases PROPERTIES LABELS integration TIMEOUT 600)
endif()
