# Cross build for Windows with Debian's MinGW-w64 compilers. The -posix variants
# carry std::thread and std::mutex, which the board's core uses; the C and C++ runtimes and
# the thread library are linked statically, so wintest.exe and glide2x.dll need no other DLL
# beside them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${WINTEST_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WINTEST_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WINTEST_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WINTEST_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
