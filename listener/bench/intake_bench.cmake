# The key-to-line latency benchmark of the X11 event source; bench/intake_bench.sh runs it.
if(HELPERS_PLATFORM STREQUAL "linux")
    add_executable(intake_latency_bench
        ${CMAKE_CURRENT_LIST_DIR}/intake_latency_bench.cpp
        ${intake_dir}/tests/intake_x_session.cpp
    )
    target_include_directories(intake_latency_bench PRIVATE ${intake_dir}/tests)
    target_link_libraries(intake_latency_bench PRIVATE PkgConfig::INTAKE_XTEST
                          benchmark::benchmark)
endif()
