# Replaces malloc and its relatives, so it runs in its own program and not
# under the sanitizers, which bring allocators of their own.
if(CMAKE_CXX_FLAGS MATCHES "sanitize")
    set(XEV_SUITE_SKIP ON)
endif()
set(XEV_SUITE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../support/MallocCounter.cpp)
