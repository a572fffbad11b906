# Run with cmake -P: Doxygen, with the reference's own Doxyfile but over two
# scratch headers, must accept the documented one and fail on the other,
# naming the function that lacks its comment.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/good ${WORK_DIR}/bad)
set(class "/// A scratch class.\nclass Scratch {\npublic:\n")
file(WRITE ${WORK_DIR}/good/Scratch.h
     "#pragma once\n${class}    /// Says yes.\n    bool documented() const;\n};\n")
file(WRITE ${WORK_DIR}/bad/Scratch.h
     "#pragma once\n${class}    /// Says yes.\n    bool documented() const;\n"
     "    int undocumentedFunction(int value);\n};\n")
file(WRITE ${WORK_DIR}/mainpage.md "# Scratch\n\nA page.\n")

function(run_doxygen variant result_var output_var)
    # Later assignments override the reference's own.
    file(WRITE ${WORK_DIR}/${variant}.Doxyfile
         "@INCLUDE = ${DOXYFILE}\n"
         "INPUT = ${WORK_DIR}/mainpage.md ${WORK_DIR}/${variant}\n"
         "USE_MDFILE_AS_MAINPAGE = ${WORK_DIR}/mainpage.md\n"
         "OUTPUT_DIRECTORY = ${WORK_DIR}/${variant}-out\n")
    execute_process(COMMAND ${DOXYGEN} ${WORK_DIR}/${variant}.Doxyfile
                    WORKING_DIRECTORY ${WORK_DIR}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${result_var} "${result}" PARENT_SCOPE)
    set(${output_var} "${output}" PARENT_SCOPE)
endfunction()

run_doxygen(good result output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Doxygen refused a documented header (${result}):\n${output}")
endif()
run_doxygen(bad result output)
if(result EQUAL 0)
    message(FATAL_ERROR "Doxygen accepted an undocumented function:\n${output}")
endif()
if(NOT output MATCHES "undocumentedFunction\\(int value\\)[^\n]*is not documented")
    message(FATAL_ERROR "Doxygen failed without naming the undocumented function:\n${output}")
endif()
