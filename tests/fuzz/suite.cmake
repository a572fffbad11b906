# libFuzzer targets: each fuzz_<name>.cpp becomes an executable and a ctest
# "fuzz.<name>" with label "fuzz", built only with XEV_BUILD_FUZZ (the "fuzz"
# preset, clang). They are never part of the unit test programs.
set(XEV_SUITE_SKIP ON)
if(XEV_BUILD_FUZZ)
    file(GLOB xev_fuzz_sources CONFIGURE_DEPENDS ${dir}/fuzz_*.cpp)
    foreach(xev_fuzz_source IN LISTS xev_fuzz_sources)
        get_filename_component(xev_fuzz_target ${xev_fuzz_source} NAME_WE)
        string(REGEX REPLACE "^fuzz_" "" xev_fuzz_name ${xev_fuzz_target})
        add_executable(${xev_fuzz_target} ${xev_fuzz_source})
        target_include_directories(${xev_fuzz_target} PRIVATE
            ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
        target_link_libraries(${xev_fuzz_target} PRIVATE XEVLibrary)
        target_link_options(${xev_fuzz_target} PRIVATE -fsanitize=fuzzer)
        xev_project_warnings(${xev_fuzz_target})
        add_test(NAME fuzz.${xev_fuzz_name}
                 COMMAND ${xev_fuzz_target} -max_total_time=300
                         -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${xev_fuzz_name}-)
        set_tests_properties(fuzz.${xev_fuzz_name} PROPERTIES LABELS fuzz TIMEOUT 420)
    endforeach()
endif()
