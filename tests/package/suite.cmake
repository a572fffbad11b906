# The installed package, checked as users meet it: the library and its
# emulator installed into a scratch prefix, a small application built against
# them with CMake (clang++ at its default standard) and with pkg-config (g++
# with the application's own -std=c++20), and the examples built on their own
# and run (label "package"). Programs built without the
# sanitizers cannot link an instrumented library, so these run only in plain
# builds. The README's quick start and the umbrella header are checked
# everywhere (label "unit").
set(XEV_SUITE_SKIP ON)
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    set(package_work ${CMAKE_CURRENT_BINARY_DIR}/package-check)
    set(package_prefix ${package_work}/prefix)
    add_test(NAME package.InstallIntoAScratchPrefix
             COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${package_prefix})
    set_tests_properties(package.InstallIntoAScratchPrefix PROPERTIES
        LABELS package FIXTURES_SETUP xev_installed)
    foreach(variant "cmake;clang++;" "pkg-config;g++;c++20")
        list(GET variant 0 mode)
        list(GET variant 1 compiler)
        list(GET variant 2 standard)
        set(name package.Consumer.${mode}.${compiler}${standard})
        add_test(NAME ${name}
                 COMMAND ${CMAKE_COMMAND} -DPREFIX=${package_prefix} -DMODE=${mode}
                         -DCOMPILER=${compiler} -DSTANDARD=${standard}
                         -DCONSUMER_DIR=${dir}/consumer
                         -DWORK_DIR=${package_work}/${mode}-${compiler}${standard}
                         -P ${dir}/BuildConsumer.cmake)
        set_tests_properties(${name} PROPERTIES
            LABELS package FIXTURES_REQUIRED xev_installed TIMEOUT 300)
    endforeach()
    add_test(NAME package.ExamplesRunAgainstTheInstalledPackage
             COMMAND ${CMAKE_COMMAND} -DPREFIX=${package_prefix}
                     -DEXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples
                     -DWORK_DIR=${package_work}/examples -P ${dir}/RunExamples.cmake)
    set_tests_properties(package.ExamplesRunAgainstTheInstalledPackage PROPERTIES
        LABELS package FIXTURES_REQUIRED xev_installed TIMEOUT 300)
endif()

add_test(NAME package.UmbrellaHeaderIncludesEveryPublicHeader
         COMMAND ${CMAKE_COMMAND} -DINCLUDE_DIR=${PROJECT_SOURCE_DIR}/include
                 -P ${dir}/CheckUmbrella.cmake)
set_tests_properties(package.UmbrellaHeaderIncludesEveryPublicHeader PROPERTIES LABELS unit)
add_test(NAME package.ReadmeQuickStartIsTheExample
         COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
                 -DEXAMPLE=${PROJECT_SOURCE_DIR}/examples/quick-start.cpp
                 -P ${dir}/CheckReadme.cmake)
set_tests_properties(package.ReadmeQuickStartIsTheExample PROPERTIES LABELS unit)
