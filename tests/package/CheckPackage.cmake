# Run with cmake -P: BUILD_DIR (the built project), CONSUMER_DIR (the consumer
# sources) and WORK_DIR (scratch space) are given on the command line.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Command failed (${result}): ${ARGN}\n${output}")
    endif()
    set(last_output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package(XEVLibrary 2.4 CONFIG REQUIRED) and XEVLibrary::XEVLibrary.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer-build -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer-build)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib ${WORK_DIR}/consumer-build/consumer)
if(NOT last_output MATCHES "consumer received 3 frames")
    message(FATAL_ERROR "Unexpected consumer output: ${last_output}")
endif()

# pkg-config --cflags --libs XEVLibrary.
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
    pkg-config --cflags --libs XEVLibrary)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/consumer-pc ${flags})
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib ${WORK_DIR}/consumer-pc)
if(NOT last_output MATCHES "consumer received 3 frames")
    message(FATAL_ERROR "Unexpected pkg-config consumer output: ${last_output}")
endif()
