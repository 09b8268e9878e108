# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix thread
# model, so that std::thread and std::mutex work); tests run under Wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PICTRIM_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PICTRIM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PICTRIM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PICTRIM_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PICTRIM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A Wine prefix of the build's own, quiet, and without the offers to install
# Mono and Gecko, which would wait for a click nobody makes.
find_program(PICTRIM_WINE NAMES wine)
if(PICTRIM_WINE)
  set(PICTRIM_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${PICTRIM_WINEPREFIX} WINEDEBUG=-all
                                    WINEDLLOVERRIDES=mscoree,mshtml= ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
