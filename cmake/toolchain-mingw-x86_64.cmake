# Cross build for 64-bit Windows; the settings shared by both targets are in mingw-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WINTEST_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
