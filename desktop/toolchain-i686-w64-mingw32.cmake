# Cross build for 32-bit Win32, as the phone is, with mingw-w64's -posix compilers (compile only: the
# sizes of pointers and words are checked nowhere else).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VEXORI_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXORI_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXORI_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXORI_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VEXORI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
