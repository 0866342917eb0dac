#!/bin/sh
# Compiler and linker launcher of the test targets: runs the -posix
# thread-model sibling of the win32 thread-model MinGW compiler CMake names
# (i686-w64-mingw32-g++-win32 -> i686-w64-mingw32-g++-posix), with the same
# arguments. See setupsup_posix_thread_model() in CMakeLists.txt.
compiler=$1
shift
case "$compiler" in
  *-win32) exec "${compiler%-win32}-posix" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
