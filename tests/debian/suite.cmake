# The Debian packages (label "debian"): cpack builds them from the build tree,
# an application is built against them extracted into a scratch root, and
# lintian judges them (CheckPackages.cmake). Needs dpkg-deb and lintian, and
# skips itself without them. Sanitized builds cannot link the consumer
# against an instrumented library, so the check runs in plain builds only.
set(XEV_SUITE_SKIP ON)
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    add_test(NAME debian.PackagesInstallBuildAnApplicationAndPassLintian
             COMMAND ${CMAKE_COMMAND} -DBINARY_DIR=${PROJECT_BINARY_DIR}
                     -DCPACK=${CMAKE_CPACK_COMMAND} -DCONSUMER_DIR=${dir}/../package/consumer
                     -DLIBDIR=${CMAKE_INSTALL_LIBDIR} -DVERSION=${PROJECT_VERSION}
                     -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/debian-check
                     -P ${dir}/CheckPackages.cmake)
    set_tests_properties(debian.PackagesInstallBuildAnApplicationAndPassLintian PROPERTIES
        LABELS debian TIMEOUT 600 SKIP_REGULAR_EXPRESSION "XEV-SKIP:")
endif()
