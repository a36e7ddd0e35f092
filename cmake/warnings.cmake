# Warnings for every target of the project; errors when WINTEST_WERROR is on (CI).
function(wintest_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wno-unused-parameter
                                             $<$<BOOL:${WINTEST_WERROR}>:-Werror>)
endfunction()
