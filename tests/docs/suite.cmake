# The API reference (label "docs", when Doxygen is installed): the "doc"
# target must pass, and Doxygen with the same warning settings must fail on a
# header that declares an undocumented function, so that a lapse in the
# headers' documentation cannot go unnoticed.
set(XEV_SUITE_SKIP ON)
find_package(Doxygen 1.9 QUIET)
if(DOXYGEN_EXECUTABLE)
    add_test(NAME docs.ReferenceBuildsWithoutWarnings
             COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target doc)
    set_tests_properties(docs.ReferenceBuildsWithoutWarnings PROPERTIES
        LABELS docs TIMEOUT 300 RUN_SERIAL ON)
    add_test(NAME docs.UndocumentedFunctionFailsTheReference
             COMMAND ${CMAKE_COMMAND} -DDOXYGEN=${DOXYGEN_EXECUTABLE}
                     -DDOXYFILE=${PROJECT_BINARY_DIR}/Doxyfile
                     -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/docs-check
                     -P ${dir}/CheckUndocumented.cmake)
    set_tests_properties(docs.UndocumentedFunctionFailsTheReference PROPERTIES
        LABELS docs TIMEOUT 60)
endif()
