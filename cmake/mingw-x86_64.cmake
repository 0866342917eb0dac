# Cross-compiling the 64-bit DLL and its Windows tools and tests with
# MinGW-w64 (x86_64), from the same sources as the 32-bit build. As there, the
# DLL, its library code and the tools use the win32 thread-model compilers,
# the test programs and GoogleTest the -posix ones (setupsup_posix_thread_model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(SETUPSUP_MINGW_PREFIX x86_64-w64-mingw32)
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
# programs import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
