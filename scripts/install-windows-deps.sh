#!/usr/bin/env bash
# Installs what the Windows cross build and its Wine test runs need, skipping
# what the machine already has: the mingw-w64 compilers (the -posix flavour,
# whose libstdc++ has std::thread and std::mutex), 64-bit Wine, GoogleTest's
# sources (built for Windows by the project itself), and glibc's locale tools
# (the tests run Wine under generated Linux locales), and Xvfb, a display on
# which Wine can open the console window of the double-click test. Only 64-bit
# programs are built, so no i386 architecture is added.
set -euo pipefail
NO_RECOMMENDS=1 bash "$(dirname "$0")/install-deps.sh" \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 googletest unzip xvfb xauth
# The -posix compilers are an alternative of the plain names; the build names
# them directly, so check they are there rather than trusting the alternatives.
command -v x86_64-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null || command -v wine64 >/dev/null
