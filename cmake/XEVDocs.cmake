# The API reference: "cmake --build <dir> --target doc" runs Doxygen over the
# public headers of the library and of its emulators into <dir>/doc/html.
# Doxygen fails on any warning, so a public class, function or member without
# documentation fails the target. Nothing generated lands in the sources.
find_package(Doxygen 1.9 QUIET)
if(NOT DOXYGEN_EXECUTABLE)
    return()
endif()

set(XEV_DOC_OUTPUT_DIR ${PROJECT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
file(GLOB xev_doc_inputs CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/include/*.h ${PROJECT_SOURCE_DIR}/emulator/include/*.h)
add_custom_target(doc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${XEV_DOC_OUTPUT_DIR}
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    SOURCES ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_SOURCE_DIR}/docs/mainpage.md
            ${xev_doc_inputs}
    COMMENT "API reference in ${XEV_DOC_OUTPUT_DIR}/html"
    VERBATIM)
