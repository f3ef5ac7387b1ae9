# Cross build for 64-bit desktop Win32 with mingw-w64's -posix compilers (GoogleTest needs
# std::thread), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEXORI_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXORI_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXORI_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXORI_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VEXORI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
