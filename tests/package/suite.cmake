# Installs the built library into a scratch prefix and builds a small
# application against it, once with find_package and once with pkg-config,
# so that the installed package cannot rot.
set(XEV_SUITE_SKIP ON)
# A consumer built without the sanitizers cannot link an instrumented library.
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
add_test(NAME package.ConsumerBuildsAgainstInstalledTree
         COMMAND ${CMAKE_COMMAND}
             -DBUILD_DIR=${PROJECT_BINARY_DIR}
             -DCONSUMER_DIR=${dir}/consumer
             -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/package-check
             -P ${dir}/CheckPackage.cmake)
set_tests_properties(package.ConsumerBuildsAgainstInstalledTree PROPERTIES LABELS unit TIMEOUT 300)
endif()

add_test(NAME package.UmbrellaHeaderIncludesEveryPublicHeader
         COMMAND ${CMAKE_COMMAND} -DINCLUDE_DIR=${PROJECT_SOURCE_DIR}/include
                 -P ${dir}/CheckUmbrella.cmake)
set_tests_properties(package.UmbrellaHeaderIncludesEveryPublicHeader PROPERTIES LABELS unit)
