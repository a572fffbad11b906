# Debian packages: `cpack -G DEB` in the build directory writes one package
# per install component.
#   libs   -> libxevlibrary2      libXEVLibrary.so.2 and libXEVEmulator.so.2
#   dev    -> libxevlibrary-dev   headers, CMake package, pkg-config, .so links
#   tools  -> xevlibrary-tools    the command-line programs of tools/
#   python -> python3-xevlibrary  the Python module, when python/ installs one
# Each package carries its copyright file and changelog under
# /usr/share/doc/<package>; only component installs (CPack's) put them there,
# so a plain `cmake --install` installs what it always did.
# tests/debian builds the packages, builds an application against them and
# runs lintian on them.

set(XEV_PACKAGE_MAINTAINER "XEVLibrary maintainers <xevlibrary@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

get_cmake_property(xev_install_components COMPONENTS)
set(xev_deb_components libs dev tools python)
foreach(component IN LISTS xev_install_components)
    if(NOT component IN_LIST xev_deb_components)
        message(WARNING "Install component \"${component}\" is in no Debian package")
    endif()
endforeach()
string(REPLACE ";" "|" xev_present "${xev_install_components}")
list(FILTER xev_deb_components INCLUDE REGEX "^(${xev_present})$")

set(XEV_DEB_VERSION ${PROJECT_VERSION})
set(xev_deb_names_libs libxevlibrary2)
set(xev_deb_names_dev libxevlibrary-dev)
set(xev_deb_names_tools xevlibrary-tools)
set(xev_deb_names_python python3-xevlibrary)

# The package version has no Debian revision: these are native packages, whose
# changelog is changelog.gz, compressed with gzip -9n.
set(xev_deb_doc ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(CONFIGURE OUTPUT ${xev_deb_doc}/copyright @ONLY CONTENT
"XEVLibrary @XEV_DEB_VERSION@: short-wave infrared camera SDK.

Copyright (C) 2026 the XEVLibrary developers.

The source tree does not state a licence yet. Until it does, all rights are
reserved by the copyright holders.
")
file(CONFIGURE OUTPUT ${xev_deb_doc}/changelog @ONLY CONTENT
"xevlibrary (@XEV_DEB_VERSION@) unstable; urgency=medium

  * Python module, Debian packages and API reference.

 -- @XEV_PACKAGE_MAINTAINER@  Mon, 07 Dec 2026 00:00:00 +0000
")
find_program(XEV_GZIP gzip)
if(XEV_GZIP)
    execute_process(COMMAND ${XEV_GZIP} -9 -n -c ${xev_deb_doc}/changelog
                    OUTPUT_FILE ${xev_deb_doc}/changelog.gz RESULT_VARIABLE xev_gzip_result)
    if(NOT xev_gzip_result EQUAL 0)
        message(WARNING "gzip failed (${xev_gzip_result}): the Debian packages lack a changelog")
    endif()
endif()
foreach(component IN LISTS xev_deb_components)
    set(destination ${CMAKE_INSTALL_DATAROOTDIR}/doc/${xev_deb_names_${component}})
    install(FILES ${xev_deb_doc}/copyright DESTINATION ${destination}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
    if(EXISTS ${xev_deb_doc}/changelog.gz)
        install(FILES ${xev_deb_doc}/changelog.gz DESTINATION ${destination}
                COMPONENT ${component} EXCLUDE_FROM_ALL)
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME xevlibrary)
set(CPACK_PACKAGE_VERSION ${XEV_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT ${XEV_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${xev_deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE xevlibrary)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${XEV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the Debian packages of the shared objects each program
# and library links; our own libraries it finds in the build tree, and the
# packages' dependencies on libxevlibrary2 come from the component graph.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Descriptions: the first line is the package's own synopsis (an empty
# common summary keeps CPack from putting the project's in front of it), the
# rest the extended description, whose empty lines become " ." lines.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
string(CONCAT xev_deb_about
    "XEVLibrary controls short-wave infrared cameras over USB and GigE Vision\n"
    "and delivers their frames through a pipeline of observers and image\n"
    "processing stages. Emulated cameras stand in for missing hardware.\n\n")

# libxevlibrary2: the sonames stay at 2 while the interface stays compatible,
# so programs built against this version accept any later 2.x.
set(CPACK_DEBIAN_LIBS_PACKAGE_NAME ${xev_deb_names_libs})
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
string(CONCAT CPACK_DEBIAN_LIBS_DESCRIPTION
    "SWIR camera library for USB and GigE Vision cameras\n"
    "${xev_deb_about}"
    "This package holds the shared libraries: the library and its camera\n"
    "emulators.")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through dpkg's trigger, not from maintainer scripts.
file(CONFIGURE OUTPUT ${xev_deb_doc}/libs/triggers CONTENT "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${xev_deb_doc}/libs/triggers)

# libxevlibrary-dev: the public headers include OpenCV's core and Boost's
# threads and signals; the CMake package finds OpenCV and Boost.Thread through
# their CMake packages, the pkg-config module requires opencv4.
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${xev_deb_names_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS libs)
string(CONCAT CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libopencv-core-dev (>= 4.6), libopencv-dev (>= 4.6), "
    "libboost-thread-dev (>= 1.74), libboost-dev (>= 1.74)")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
    "SWIR camera library for USB and GigE Vision cameras (development files)\n"
    "${xev_deb_about}"
    "This package holds the headers, the CMake package XEVLibrary and the\n"
    "pkg-config modules XEVLibrary and XEVEmulator.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${xev_deb_names_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
set(CPACK_COMPONENT_TOOLS_DEPENDS libs)
string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
    "SWIR camera library for USB and GigE Vision cameras (programs)\n"
    "${xev_deb_about}"
    "This package holds the programs: the GigE Vision camera emulator, the\n"
    "interactive console, the capture demonstrations, the toolbox gallery and\n"
    "the NUC calibration.")

if(python IN_LIST xev_deb_components)
    # The module is built for one Python version and uses numpy at run time.
    find_package(Python3 COMPONENTS Interpreter QUIET)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${xev_deb_names_python})
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    set(CPACK_COMPONENT_PYTHON_DEPENDS libs)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3-numpy")
    if(Python3_FOUND)
        math(EXPR xev_python_next "${Python3_VERSION_MINOR} + 1")
        set(xev_python ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
        string(CONCAT CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${xev_python}~), "
            "python3 (<< ${Python3_VERSION_MAJOR}.${xev_python_next}), python3-numpy")
    endif()
    string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION
        "SWIR camera library for USB and GigE Vision cameras (Python 3 module)\n"
        "${xev_deb_about}"
        "This package holds the Python 3 module xevlibrary: cameras, emulators and\n"
        "toolbox stages, frames as numpy arrays.")
endif()

include(CPack)
