# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#
#     cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#     cmake --build build-windows
#
# The programs are linked statically, so brom-demo.exe and brom-play.exe need no DLLs beside
# them. The POSIX-threads flavour of the compiler is used: its C++ library has std::thread and
# the rest of <thread>, which the win32 flavour of GCC 12 lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BROM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BROM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BROM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BROM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BROM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

