# Run with cmake -P: INCLUDE_DIR is the folder of the public headers. Fails
# when a public header is missing from the umbrella header XEVLibrary.h.
file(GLOB headers RELATIVE ${INCLUDE_DIR} ${INCLUDE_DIR}/*.h)
file(READ ${INCLUDE_DIR}/XEVLibrary.h umbrella)
set(missing "")
foreach(header IN LISTS headers)
    if(NOT header STREQUAL "XEVLibrary.h" AND NOT umbrella MATCHES "#include \"${header}\"")
        list(APPEND missing ${header})
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "XEVLibrary.h does not include: ${missing}")
endif()
