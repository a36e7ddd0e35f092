# Link-time optimisation of the program and the board: the program's drawing loops then see
# the board's Glide entry points whole (grDrawPoint becomes a few instructions in the
# caller's loop instead of a call with the vertex passed through memory).
#
# The libraries carry both their intermediate code and ordinary objects, so only the targets
# that ask for it pay for the link-time optimisation; the test suites link as before.
# Off for the sanitizer and fuzzing builds, Debug, and the Windows cross build (there the
# board is its own DLL).
option(WINTEST_LTO "Link-time optimisation of the program and the board" ON)

set(WINTEST_LINK_TIME OFF)
if(WINTEST_LTO AND NOT WIN32 AND NOT WINTEST_SANITIZE AND NOT WINTEST_FUZZ
   AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    include(CheckIPOSupported)
    check_ipo_supported(RESULT WINTEST_LINK_TIME OUTPUT ipo_output LANGUAGES CXX)
    if(NOT WINTEST_LINK_TIME)
        message(STATUS "Link-time optimisation not available: ${ipo_output}")
    endif()
endif()

# A library whose code the link-time optimised targets see whole.
function(wintest_link_time_library target)
    if(WINTEST_LINK_TIME)
        set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
        target_compile_options(${target} PRIVATE -ffat-lto-objects)
    endif()
endfunction()

# An executable linked with link-time optimisation.
function(wintest_link_time_executable target)
    if(WINTEST_LINK_TIME)
        set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
    endif()
endfunction()
