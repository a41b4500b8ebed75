# Cross toolchain: 64-bit Windows with MinGW-w64.
# GEARLOFT_MINGW_THREADS=posix (default) gives the thread model GoogleTest and the tests need;
# win32 gives the shipped DLL, whose runtime then carries no winpthreads at all (a thread ended at
# process exit while holding a winpthreads lock could hang the game's exit).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
if(NOT GEARLOFT_MINGW_THREADS)
  set(GEARLOFT_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${GEARLOFT_MINGW_THREADS})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${GEARLOFT_MINGW_THREADS})
# The fault guard is a small assembly routine, assembled by the same driver.
set(CMAKE_ASM_COMPILER x86_64-w64-mingw32-gcc-${GEARLOFT_MINGW_THREADS})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# The runtime DLL is the legacy msvcrt: its own printf writes three-digit exponents and its strtod knows no
# hex floats. MinGW's C99 printf and strtod answer as every other build does; libstdc++ already asks for
# them in C++, this makes it hold for any C file too.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine, each in the throw-away prefix that tools/wine-run prepares.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
