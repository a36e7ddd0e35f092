# Cross build for 32-bit Windows; the settings shared by both targets are in mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WINTEST_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
