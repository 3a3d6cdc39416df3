# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DPELMARK_HOST_FWGEN=build/tools/fwgen/pelmark-fwgen
#
# The programs are linked statically (no MinGW runtime DLLs to ship). The
# desktop program is left out (Qt for Windows is not built here); the firmware
# generator runs on the build machine (PELMARK_HOST_FWGEN); googletest is
# compiled from Debian's sources (/usr/src/googletest). Tests are run under
# Wine: scripts/wine-check.sh, or ctest in the build directory with a Wine
# prefix set up.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_pelmark_triple x86_64-w64-mingw32)
# The posix thread model has std::thread and std::mutex in GCC 12; the win32
# one does not.
find_program(_pelmark_mingw_cxx NAMES ${_pelmark_triple}-g++-posix ${_pelmark_triple}-g++ REQUIRED)
find_program(_pelmark_mingw_cc NAMES ${_pelmark_triple}-gcc-posix ${_pelmark_triple}-gcc)
find_program(_pelmark_mingw_rc NAMES ${_pelmark_triple}-windres)
set(CMAKE_CXX_COMPILER "${_pelmark_mingw_cxx}")
if(_pelmark_mingw_cc)
  set(CMAKE_C_COMPILER "${_pelmark_mingw_cc}")
endif()
if(_pelmark_mingw_rc)
  set(CMAKE_RC_COMPILER "${_pelmark_mingw_rc}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${_pelmark_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static executables: libgcc, libstdc++ and winpthread inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables run under Wine, at test time (never during the build).
find_program(_pelmark_wine NAMES wine wine64)
if(_pelmark_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_pelmark_wine}")
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
