# Replaces the global allocation operators, so it runs in its own program and
# not under the address sanitizer, whose own operators it would hide.
if(CMAKE_CXX_FLAGS MATCHES "sanitize=address")
    set(XEV_SUITE_SKIP ON)
endif()
