# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-win32).
# Used by scripts/build-windows for freeglut and for the program alike.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_HOST}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_HOST}-g++)
set(CMAKE_RC_COMPILER ${MINGW_HOST}-windres)

# Headers and libraries come from the MinGW tree only, never from the Linux system; tools
# run on the build machine. Packages (freeglut's own CMake package) are also looked for
# where CMAKE_PREFIX_PATH points, which lies outside that tree.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
