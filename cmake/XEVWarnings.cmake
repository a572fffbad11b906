# Warnings are errors on the project's own code; third-party headers are
# included as system headers so that their warnings stay out of the way.
function(xev_project_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
