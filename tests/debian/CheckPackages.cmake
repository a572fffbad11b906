# Run with cmake -P: builds the Debian packages of the build tree BINARY_DIR
# with CPACK, checks their names, contents and dependencies, extracts them
# into a scratch root, builds tests/package's consumer against that root with
# CMake and with pkg-config and runs it, runs the programs of xevlibrary-tools
# (and imports the Python module when it is packaged), and runs lintian on
# the packages: any error (E:) fails. LIBDIR is CMAKE_INSTALL_LIBDIR, VERSION
# the project's, WORK_DIR scratch space. Prints XEV-SKIP when dpkg-deb or
# lintian is missing.
cmake_minimum_required(VERSION 3.25)
include(${CONSUMER_DIR}/../PackageCommon.cmake)

find_program(DPKG_DEB dpkg-deb)
find_program(LINTIAN lintian)
if(NOT DPKG_DEB OR NOT LINTIAN)
    message("XEV-SKIP: dpkg-deb or lintian is not installed")
    return()
endif()

# Fails with the message when the text does not contain (or, with NOT, does
# contain) the regular expression.
function(expect text regex what)
    if(NOT "${text}" MATCHES "${regex}")
        message(FATAL_ERROR "${what}: no match for \"${regex}\" in:\n${text}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
string(TIMESTAMP started "%s")
execute_process(COMMAND ${CPACK} -G DEB -B ${WORK_DIR}/packages
                        --config ${BINARY_DIR}/CPackConfig.cmake
                WORKING_DIRECTORY ${BINARY_DIR} RESULT_VARIABLE result
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed (${result}):\n${output}")
endif()

# The packages expected, by install component.
include(${BINARY_DIR}/CPackConfig.cmake)
set(packages libxevlibrary2 libxevlibrary-dev xevlibrary-tools)
if(python IN_LIST CPACK_COMPONENTS_ALL)
    list(APPEND packages python3-xevlibrary)
endif()
file(GLOB debs ${WORK_DIR}/packages/*.deb)
list(LENGTH debs count)
list(LENGTH packages expected_count)
if(NOT count EQUAL expected_count)
    message(FATAL_ERROR "cpack wrote ${debs}, expected packages ${packages}")
endif()

set(root ${WORK_DIR}/root)
set(lib usr/${LIBDIR})
set(all_files "")
foreach(package IN LISTS packages)
    set(deb ${WORK_DIR}/packages/${package}_${VERSION}_amd64.deb)
    if(NOT EXISTS ${deb})
        message(FATAL_ERROR "No ${deb} among: ${debs}")
    endif()
    run(${DPKG_DEB} --field ${deb} Package Version Section Depends Source)
    set(control_${package} "${last_output}")
    expect("${last_output}" "Package: ${package}\nVersion: ${VERSION}\n" ${package})
    expect("${last_output}" "Source: xevlibrary" ${package})
    execute_process(COMMAND ${DPKG_DEB} --contents ${deb} OUTPUT_VARIABLE listing
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "dpkg-deb --contents ${deb} failed")
    endif()
    # "drwxr-xr-x root/root 0 date time ./usr/lib/x.so -> y": keep the paths.
    string(REGEX REPLACE "[^\n]* \\./([^\n]*)" "\\1" files "${listing}")
    string(REGEX REPLACE " -> [^\n]*" "" files "${files}")
    string(REGEX REPLACE "[^\n]*/\n" "" files "${files}")
    string(REPLACE "\n" ";" files "${files}")
    list(FILTER files EXCLUDE REGEX "^$")
    set(files_${package} ${files})
    foreach(file IN LISTS files)
        if(file IN_LIST all_files)
            message(FATAL_ERROR "${file} is in two packages (again in ${package})")
        endif()
    endforeach()
    list(APPEND all_files ${files})
    foreach(doc copyright changelog.gz)
        if(NOT usr/share/doc/${package}/${doc} IN_LIST files)
            message(FATAL_ERROR "${package} has no usr/share/doc/${package}/${doc}")
        endif()
    endforeach()
    if(listing MATCHES "usr/local|root/root [^\n]*\\./home")
        message(FATAL_ERROR "${package} installs outside /usr:\n${listing}")
    endif()
    run(${DPKG_DEB} -x ${deb} ${root})
endforeach()

# Which files went where.
string(REPLACE "." ";" version_parts ${VERSION})
list(GET version_parts 0 major)
foreach(library XEVLibrary XEVEmulator)
    foreach(name lib${library}.so.${major} lib${library}.so.${VERSION})
        if(NOT ${lib}/${name} IN_LIST files_libxevlibrary2)
            message(FATAL_ERROR "libxevlibrary2 lacks ${lib}/${name}: ${files_libxevlibrary2}")
        endif()
    endforeach()
    foreach(name lib${library}.so pkgconfig/${library}.pc)
        if(NOT ${lib}/${name} IN_LIST files_libxevlibrary-dev)
            message(FATAL_ERROR "libxevlibrary-dev lacks ${lib}/${name}")
        endif()
    endforeach()
endforeach()
foreach(name include/XEVLibrary/XEVLibrary.h include/XEVLibrary/XEVUsbCameraEmulator.h
             include/XEVLibrary/Gige/DeviceInfo.h ${LIBDIR}/cmake/XEVLibrary/XEVLibraryConfig.cmake)
    if(NOT usr/${name} IN_LIST files_libxevlibrary-dev)
        message(FATAL_ERROR "libxevlibrary-dev lacks usr/${name}")
    endif()
endforeach()
foreach(program console gige-emulator capture-demo gige-demo pipeline-demo toolbox-gallery
                nuc-calibrate)
    if(NOT usr/bin/xev-${program} IN_LIST files_xevlibrary-tools)
        message(FATAL_ERROR "xevlibrary-tools lacks usr/bin/xev-${program}")
    endif()
endforeach()
list(FILTER files_libxevlibrary2 EXCLUDE
     REGEX "^(${lib}/lib[A-Za-z]+\\.so\\.[0-9.]+|usr/share/doc/.*)$")
if(files_libxevlibrary2)
    message(FATAL_ERROR "libxevlibrary2 holds more than shared objects: ${files_libxevlibrary2}")
endif()

# Dependencies: on the library at this very version, on the -dev packages of
# what the public headers include, and (dpkg-shlibdeps) on the shared objects
# linked, such as Boost.Program_options for the programs.
set(same "libxevlibrary2 \\(= ${VERSION}\\)")
expect("${control_libxevlibrary-dev}" "Depends: [^\n]*${same}" "libxevlibrary-dev")
foreach(dev libopencv-core-dev libopencv-dev libboost-thread-dev libboost-dev)
    expect("${control_libxevlibrary-dev}" "Depends: [^\n]*${dev}" "libxevlibrary-dev")
endforeach()
expect("${control_xevlibrary-tools}" "Depends: [^\n]*${same}" "xevlibrary-tools")
expect("${control_xevlibrary-tools}" "Depends: [^\n]*libboost-program-options1" "xevlibrary-tools")
foreach(shared libusb-1\\.0-0 libopencv-core406 libopencv-imgcodecs406 zlib1g)
    expect("${control_libxevlibrary2}" "Depends: [^\n]*${shared}" "libxevlibrary2")
endforeach()
expect("${control_libxevlibrary2}" "Section: libs\n" "libxevlibrary2")
expect("${control_libxevlibrary-dev}" "Section: libdevel\n" "libxevlibrary-dev")
foreach(library XEVLibrary XEVEmulator)
    run(${DPKG_DEB} --info ${WORK_DIR}/packages/libxevlibrary2_${VERSION}_amd64.deb shlibs)
    expect("${last_output}" "lib${library} ${major} libxevlibrary2 \\(>= ${VERSION}\\)" shlibs)
endforeach()
run(${DPKG_DEB} --info ${WORK_DIR}/packages/libxevlibrary2_${VERSION}_amd64.deb triggers)
expect("${last_output}" "activate-noawait ldconfig" triggers)
if(python3-xevlibrary IN_LIST packages)
    expect("${control_python3-xevlibrary}" "Depends: [^\n]*${same}" "python3-xevlibrary")
    expect("${control_python3-xevlibrary}" "Depends: [^\n]*python3-numpy" "python3-xevlibrary")
    expect("${control_python3-xevlibrary}" "Depends: [^\n]*python3 \\(<< 3\\.[0-9]+\\)"
           "python3-xevlibrary")
endif()

# Nothing a plain install installs is missing from the packages (an install
# rule without a packaged component).
run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/plain/usr)
file(GLOB_RECURSE plain RELATIVE ${WORK_DIR}/plain LIST_DIRECTORIES false ${WORK_DIR}/plain/*)
foreach(file IN LISTS plain)
    if(NOT file IN_LIST all_files)
        message(FATAL_ERROR "A plain install installs ${file}, which no package holds")
    endif()
endforeach()
list(FILTER all_files EXCLUDE REGEX "^usr/share/doc/")
list(LENGTH plain plain_count)
list(LENGTH all_files packaged_count)
if(NOT plain_count EQUAL packaged_count)
    message(FATAL_ERROR "The packages hold ${packaged_count} files, a plain install ${plain_count}")
endif()

# An application built against the extracted packages, as with
# `apt install libxevlibrary-dev`, with CMake and with pkg-config.
set(libraries LD_LIBRARY_PATH=${root}/${lib})
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer-cmake -G Ninja
    -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer-cmake)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${root}/${lib}/pkgconfig
    pkg-config --cflags --libs XEVLibrary XEVEmulator)
string(STRIP "${last_output}" flags)
expect("${flags}" "-I${root}/usr/[^ ]*include/XEVLibrary" pkg-config)
if(flags MATCHES "usb-1.0|opencv_imgcodecs|boost_regex")
    message(FATAL_ERROR "pkg-config hands the library's private dependencies out: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(c++ -std=c++17 ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/consumer-pkg-config ${flags})
foreach(program ${WORK_DIR}/consumer-cmake/consumer ${WORK_DIR}/consumer-pkg-config)
    run(${CMAKE_COMMAND} -E env ${libraries} ldd ${program})
    expect("${last_output}" "libXEVLibrary\\.so\\.${major} => ${root}/${lib}/" "${program}")
    run(${CMAKE_COMMAND} -E env ${libraries} ${program})
    expect("${last_output}" "consumer received 3 frames" "${program}")
endforeach()

# The programs start from the packages (each prints its help and exits).
foreach(program console gige-emulator nuc-calibrate)
    run(${CMAKE_COMMAND} -E env ${libraries} ${root}/usr/bin/xev-${program} --help)
    expect("${last_output}" "[Uu]sage|--help|-h" xev-${program})
endforeach()
if(python3-xevlibrary IN_LIST packages)
    execute_process(COMMAND /usr/bin/python3 -c "import numpy" RESULT_VARIABLE no_numpy
                    OUTPUT_QUIET ERROR_QUIET)
    if(no_numpy)
        message(STATUS "Debian's numpy is not installed: the Python module is not imported")
    else()
        run(${CMAKE_COMMAND} -E env ${libraries} PYTHONPATH=${root}/usr/lib/python3/dist-packages
            /usr/bin/python3 -c "print(__import__('xevlibrary').__file__)")
        expect("${last_output}" "^${root}/usr/lib/python3/dist-packages/xevlibrary" import)
    endif()
endif()
string(TIMESTAMP built "%s")

# lintian: errors fail, warnings and the rest are listed.
list(TRANSFORM packages APPEND "_${VERSION}_amd64.deb" OUTPUT_VARIABLE lintian_debs)
list(TRANSFORM lintian_debs PREPEND "${WORK_DIR}/packages/")
execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 ${lintian_debs}
                RESULT_VARIABLE result OUTPUT_VARIABLE lintian_output ERROR_VARIABLE lintian_output)
string(TIMESTAMP finished "%s")
math(EXPR build_seconds "${built} - ${started}")
math(EXPR lintian_seconds "${finished} - ${built}")
message(STATUS "Packages built and checked in ${build_seconds} s, lintian ${lintian_seconds} s:\n"
               "${lintian_output}")
if(lintian_output MATCHES "(^|\n)E: ")
    message(FATAL_ERROR "lintian reports errors")
endif()
