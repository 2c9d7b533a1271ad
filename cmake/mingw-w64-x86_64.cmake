# Cross-builds the Windows program with mingw-w64 (x86_64):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The run-time libraries are linked statically, so txtshade.exe needs no DLL
# beyond those of Windows itself; ctest runs the .exe files under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TXTSHADE_MINGW_PREFIX x86_64-w64-mingw32)
# The posix threading variant, whose C++ library has the full thread support
# GoogleTest may use; its winpthread is linked statically like the rest.
find_program(CMAKE_C_COMPILER NAMES ${TXTSHADE_MINGW_PREFIX}-gcc-posix ${TXTSHADE_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${TXTSHADE_MINGW_PREFIX}-g++-posix ${TXTSHADE_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${TXTSHADE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TXTSHADE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TXTSHADE_WINE NAMES wine wine64 wine-stable)
if(TXTSHADE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TXTSHADE_WINE})
endif()
