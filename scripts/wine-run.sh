#!/bin/sh
# Runs one Windows program under Wine: the emulator CMake puts in front of the
# Windows build's test programs.
#
#   wine-run.sh PREFIX WINE_LOADER PROGRAM.exe ARGS...
#
# The first Wine program started in a prefix also starts the wineserver and
# Wine's service processes, and they inherit its standard output and error.
# When that output is a pipe (CTest reading a test), the pipe stays open until
# those processes end, a few seconds after the last program, and every test
# seemed to take that long (or forever, with a persistent server). So the
# services are started first by a program whose output goes nowhere; the test
# program then finds them running and its pipes close when it exits.
prefix=$1
loader=$2
shift 2
WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
mkdir -p "$prefix" || exit 1
# Makes the prefix the first time (several seconds); only starts the
# services, or finds them up, afterwards.
"$loader" wineboot.exe </dev/null >/dev/null 2>&1
exec "$loader" "$@"
