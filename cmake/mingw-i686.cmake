# Cross-compiling the 32-bit DLL and its Windows tools and tests with MinGW-w64.
# The DLL, its library code and the tools are built with the win32
# thread-model compilers: their runtime needs no thread library, so the DLL
# imports nothing a thread library brings in. GoogleTest needs the standard
# library's threads, which only the -posix compilers have; the test programs
# and GoogleTest switch to those through setupsup_posix_thread_model().
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(SETUPSUP_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${SETUPSUP_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${SETUPSUP_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER  ${SETUPSUP_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL      ${SETUPSUP_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${SETUPSUP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links the C and C++ runtimes statically, so the DLL and the test
# programs import system DLLs only (no libgcc, libstdc++ or winpthread DLL).
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
