# Cross-compiles for 64-bit Windows with Debian's mingw-w64 -posix compilers
# and runs what it builds (tests, test discovery) under Wine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The -posix flavour is used because its libstdc++ has std::thread, std::mutex
# and friends (winpthreads); the -win32 flavour has none of them. Everything is
# linked statically so that each .exe needs only DLLs Windows itself ships, and
# runs from any folder with no mingw runtime next to it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMENTRACE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMENTRACE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMENTRACE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMENTRACE_MINGW_TRIPLE}-windres)

# Headers and libraries come from the mingw sysroot only; programs (code
# generators, the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMENTRACE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's /usr/bin/wine is a shell wrapper that prefers a 32-bit loader and
# prints an install hint on stderr when it is missing; the 64-bit loader run
# directly does neither, and stderr stays the program's own.
find_program(LUMENTRACE_WINE NAMES wine64 wine
  PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /opt/wine-stable/bin
  NO_CMAKE_FIND_ROOT_PATH)
if(LUMENTRACE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMENTRACE_WINE})
else()
  message(WARNING "No wine found: Windows programs are built but cannot be run here")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The program's entry point is wmain(), so that arguments arrive as UTF-16
# whatever the ANSI code page is; that needs -municode at link time. It cannot
# go into the linker flags above: every executable would then need wmain(),
# and CMake's own compiler checks and gtest_main (which define main()) would
# fail to link. Targets with a wmain() add it themselves.
