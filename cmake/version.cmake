# The project's version for the tools' --version: PROJECT_VERSION, plus the commit the sources
# were checked out at when they come from a git checkout of their own (a tarball unpacked
# inside some other repository reports no commit). WINTEST_GIT_COMMIT=<text> on the cmake
# command line overrides the lookup (builders without git or without the history).
# git_query(VAR ARGS...): the output of "git ARGS..." run in the source tree, empty on failure.
function(git_query var)
    set(${var} "" PARENT_SCOPE)
    execute_process(COMMAND ${GIT_EXECUTABLE} ${ARGN} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(result EQUAL 0)
        set(${var} "${output}" PARENT_SCOPE)
    endif()
endfunction()

if(NOT DEFINED WINTEST_GIT_COMMIT)
    set(WINTEST_GIT_COMMIT "")
    find_package(Git QUIET)
    if(GIT_FOUND)
        git_query(git_top rev-parse --show-toplevel)
        git_query(git_commit rev-parse --short=12 HEAD)
        git_query(git_log rev-parse --git-path logs/HEAD)
        if(git_top)
            file(REAL_PATH "${git_top}" git_top)
        endif()
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_top)
        if(git_top STREQUAL source_top AND git_commit MATCHES "^[0-9a-f]+$")
            set(WINTEST_GIT_COMMIT ${git_commit})
            # A new commit or checkout appends to the log of HEAD: configure again then, so
            # --version never names a stale commit.
            file(REAL_PATH "${git_log}" git_log BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
            if(EXISTS "${git_log}")
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${git_log}")
            endif()
        endif()
    endif()
endif()

configure_file(${PROJECT_SOURCE_DIR}/platform/include/platform/version.h.in
               ${PROJECT_BINARY_DIR}/generated/platform/version.h @ONLY)
add_library(wt_version INTERFACE)
target_include_directories(wt_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
