# Cross-builds 64-bit Windows programs on Debian with mingw-w64
# (g++-mingw-w64-x86-64-posix). The posix-threads variant is the one whose
# C++ library has std::thread and friends.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Programs are linked statically (C and C++ runtimes, winpthread), so a
# .exe runs on its own, without DLLs beside it. Where Wine is installed it is
# the emulator that runs the build's own tools and the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# A release program carries no symbol table (a third of the size).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Debian's 64-bit Wine binary is not on PATH; the wine64 package puts it here.
find_program(TARN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARN_WINE})
endif()
