# Replaces the global allocation operators, so it runs in its own program and
# not under the sanitizers, which bring allocation operators of their own.
if(CMAKE_CXX_FLAGS MATCHES "sanitize")
    set(XEV_SUITE_SKIP ON)
endif()
