# Installation: the shared libraries (the library and its camera emulator),
# the public headers under include/XEVLibrary, a CMake package and one
# pkg-config module each. Install components, one Debian package each
# (cmake/XEVPackaging.cmake): "libs" the shared objects, "dev" what an
# application builds with; a plain install installs all of them.
include(CMakePackageConfigHelpers)

set(XEV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/XEVLibrary)
set(XEV_INSTALL_TARGETS XEVLibrary)
if(TARGET XEVEmulator)
    list(APPEND XEV_INSTALL_TARGETS XEVEmulator)
    install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/emulator/include/
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/XEVLibrary COMPONENT dev
            FILES_MATCHING PATTERN "*.h")
endif()

install(TARGETS ${XEV_INSTALL_TARGETS} EXPORT XEVLibraryTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libs)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/XEVLibrary COMPONENT dev
        FILES_MATCHING PATTERN "*.h")
# The discovery record the GigE descriptor derives from.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/Gige/DeviceInfo.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/XEVLibrary/Gige COMPONENT dev)
install(EXPORT XEVLibraryTargets NAMESPACE XEVLibrary:: DESTINATION ${XEV_CMAKE_DIR}
        COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/XEVLibraryConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/XEVLibraryConfig.cmake INSTALL_DESTINATION ${XEV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/XEVLibraryConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/XEVLibraryConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/XEVLibraryConfigVersion.cmake
        DESTINATION ${XEV_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds the prefix relative to itself, so that an
# installed tree can be moved.
file(RELATIVE_PATH XEV_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
foreach(module IN LISTS XEV_INSTALL_TARGETS)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/${module}.pc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${module}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${module}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()
