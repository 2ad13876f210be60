# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix variant is the one with std::thread and std::mutex. Every exe is linked
# statically, so it runs on a bench PC with nothing installed beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVRIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVRIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVRIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVRIN_MINGW_PREFIX}-windres)

# Libraries and headers come from the mingw sysroot only: the build machine's
# /usr/include holds glibc's headers, which break a Windows build. Programs
# (srec_cat, wine64, makensis) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables through Wine. Debian keeps wine64 out of PATH.
find_program(TOVRIN_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TOVRIN_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVRIN_WINE64})
endif()
