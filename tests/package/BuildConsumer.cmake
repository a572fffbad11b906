# Run with cmake -P: builds and runs the consumer against the package
# installed in PREFIX, as an application would. MODE is "cmake" or
# "pkg-config", COMPILER the C++ compiler, STANDARD (pkg-config only) the
# standard the application chose itself; WORK_DIR is scratch space.
include(${CMAKE_CURRENT_LIST_DIR}/PackageCommon.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

if(MODE STREQUAL "cmake")
    # find_package(XEVLibrary 2.4 CONFIG REQUIRED), XEVLibrary::XEVLibrary and
    # XEVLibrary::XEVEmulator, the compiler's own default standard.
    run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G Ninja
        -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_PREFIX_PATH=${PREFIX}
        -DCMAKE_BUILD_TYPE=Release)
    run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
    set(program ${WORK_DIR}/build/consumer)
    file(READ ${WORK_DIR}/build/build.ninja link_rules)
    set(linked "${link_rules}")
else()
    # pkg-config --cflags --libs XEVLibrary XEVEmulator, the application's standard.
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${PREFIX}/lib/pkgconfig
        pkg-config --cflags --libs XEVLibrary XEVEmulator)
    string(STRIP "${last_output}" flags)
    if(flags MATCHES "-std=")
        message(FATAL_ERROR "pkg-config imposes a standard: ${flags}")
    endif()
    set(linked "${flags}")
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(program ${WORK_DIR}/consumer)
    run(${COMPILER} -std=${STANDARD} ${CONSUMER_DIR}/main.cpp -o ${program} ${flags})
endif()

# The application links what the public headers need, not the library's own
# dependencies (OpenCV's image files, video and windows, libusb ...).
if(linked MATCHES "opencv_(imgproc|imgcodecs|videoio|highgui)|usb-1.0|boost_regex")
    message(FATAL_ERROR "The consumer links the library's private dependencies:\n${linked}")
endif()

run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/lib ${program})
if(NOT last_output MATCHES "consumer received 3 frames")
    message(FATAL_ERROR "Unexpected consumer output: ${last_output}")
endif()
