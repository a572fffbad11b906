# The calibration tool's test runs the built program.
set(XEV_SUITE_DEPENDS xev-nuc-calibrate)
# The allocation count replaces malloc and its relatives: not under the
# sanitizers, which bring allocators of their own (AllocationTest.cpp then
# compiles to nothing).
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    set(XEV_SUITE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../support/MallocCounter.cpp)
endif()
