# Run with cmake -P: builds examples/ on its own against the package installed
# in PREFIX, then runs every example in WORK_DIR; each must succeed.
include(${CMAKE_CURRENT_LIST_DIR}/PackageCommon.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/run)
run(${CMAKE_COMMAND} -S ${EXAMPLES_DIR} -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

file(GLOB sources ${EXAMPLES_DIR}/*.cpp)
foreach(source IN LISTS sources)
    get_filename_component(name ${source} NAME_WE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/lib
                            ${WORK_DIR}/build/example-${name}
                    WORKING_DIRECTORY ${WORK_DIR}/run TIMEOUT 60
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    message(STATUS "example-${name}: exit ${result}\n${output}")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "example-${name} failed")
    endif()
endforeach()
# The quick start leaves an image a person can look at.
file(GLOB images ${WORK_DIR}/run/quick-start_*.png)
if(NOT images)
    message(FATAL_ERROR "The quick start wrote no image.")
endif()
