# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread model),
# linked statically so that the programs run without the compiler's DLLs. The
# programs are run under wine: CTest and test discovery use it as the emulator.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTARNQUILL_GUI=OFF
#
# Further roots to search for packages (a cross-built GoogleTest) can be given
# with -DCMAKE_FIND_ROOT_PATH=...; the compiler's own root is always searched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TQ_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ_MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs with a prefix of its own inside the build folder, quietly (no debug
# channels, no display, no offer to install Mono or Gecko) and with a UTF-8
# locale, so that non-ASCII arguments reach the programs unchanged.
find_program(TQ_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
          WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8 ${TQ_WINE})
endif()
