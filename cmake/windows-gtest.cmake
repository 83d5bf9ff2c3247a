# GoogleTest for the test suite. Included from tests/CMakeLists.txt in place of
# find_package(GTest); afterwards GTest::gtest, GTest::gtest_main and
# Threads::Threads exist in both builds.
#
# A native build uses the installed GoogleTest. A Windows cross build cannot:
# the installed libraries are Linux objects. It compiles GoogleTest from the
# sources Debian ships (package googletest) with the same cross compiler, and
# runs every test program, and gtest_discover_tests' listing run, under Wine
# in a prefix of its own inside the build folder.
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(LUMENTRACE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
  if(NOT EXISTS ${LUMENTRACE_GTEST_SOURCE}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${LUMENTRACE_GTEST_SOURCE}: run: bash scripts/install-deps.sh --windows")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # On Windows GoogleTest guards its state with Win32 critical sections and
  # compiles with GTEST_HAS_PTHREAD=0 whichever way this is set (CMake's
  # FindThreads reports Win32 threads for mingw, not pthreads). ON says so and
  # keeps winpthreads out of GoogleTest's own link line; the tests may still
  # use std::thread, which the -posix libstdc++ builds on winpthreads.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  # Built without our warning flags: its sources are not ours to fix.
  add_subdirectory(${LUMENTRACE_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  find_package(Threads REQUIRED)

  # Tests run through scripts/wine.sh: Wine quietly (no debug channels,
  # no offer to install Mono or Gecko), in a prefix that belongs to this build
  # folder (scripts/wine.sh, sourced, makes the same one and can keep its wineserver
  # running), and with Wine's services started apart from the test so that
  # they hold none of CTest's pipes open. The emulator is taken by every target
  # created after this, and by add_test and gtest_discover_tests for them.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 LUMENTRACE_WINE_LOADER)
    set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh
      ${CMAKE_BINARY_DIR}/wine-prefix
      ${LUMENTRACE_WINE_LOADER})
  endif()
else()
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()
