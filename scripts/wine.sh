#!/usr/bin/env bash
# Wine for the Windows build's programs and tests, set up in one place.
#
# Sourced, it prepares a prefix and keeps its wineserver running:
#   source scripts/wine.sh build-win    # prefix in build-win/wine-prefix
#   ctest --test-dir build-win ...
#   lumentrace_wine_stop                # ends the wineserver again
# Run, it starts one Windows program (CMake's emulator for the test programs):
#   scripts/wine.sh PREFIX WINE_LOADER PROGRAM.exe ARGS...
#
# The prefix (Wine's C: drive and registry) lives inside the build folder, so
# builds do not share state and removing the folder removes it. Making a
# prefix takes about eight seconds and a Wine start without a running
# wineserver about 0.6 s against a few hundredths with one.
#
# The first Wine program started in a prefix also starts Wine's service
# processes, and they inherit its standard output and error. When that output
# is a pipe (CTest reading a test), the pipe stays open until those processes
# end, and every test seemed to take seconds (or forever, with a persistent
# server). So wineboot starts the services first with its output going
# elsewhere; a program started afterwards finds them running and its pipes
# close when it exits.
#
# Now and then Wine fails to start a program at all: status 1 and nothing on
# standard output (at most a message of Wine's own on standard error), where
# every program run here prints on standard output first. Only that exact
# signature is tried again (twice at most), and each retry is logged, with
# what Wine said, to $LUMENTRACE_WINE_RETRIES when set, so that the run can
# report how many there were; any other failure counts at once.

lumentrace_wine_quiet() {
  # No debug channels (their fixme lines would land in the tests' stderr), and
  # no dialog offering to install Mono or Gecko while the prefix is made.
  WINEPREFIX=$1
  WINEDEBUG=-all
  WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

lumentrace_wine_start() {
  local build_dir=${1:?usage: source scripts/wine.sh BUILD_DIR}
  mkdir -p "$build_dir" || return 1
  lumentrace_wine_quiet "$(cd "$build_dir" && pwd)/wine-prefix"
  # Debian's /usr/bin/wine is a wrapper that looks for a 32-bit loader first;
  # the 64-bit one is all this build needs.
  LUMENTRACE_WINE=""
  local candidate
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then LUMENTRACE_WINE=$candidate; break; fi
  done
  if [ -z "$LUMENTRACE_WINE" ]; then
    echo "wine.sh: no wine found; run: bash scripts/install-deps.sh --windows" >&2
    return 1
  fi
  LUMENTRACE_WINESERVER=/usr/lib/wine/wineserver
  [ -x "$LUMENTRACE_WINESERVER" ] || LUMENTRACE_WINESERVER=$(command -v wineserver) || return 1
  # Wine gives a program started in a console of its own (a double-click) a
  # console window only when its session has a display; without one the
  # program cannot tell that window is its own. A session started here
  # without a display gets a virtual one (Xvfb), kept until lumentrace_wine_stop.
  LUMENTRACE_XVFB_PID=""
  if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
    local number_file
    number_file=$(mktemp) || return 1
    Xvfb -displayfd 3 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    LUMENTRACE_XVFB_PID=$!
    local waited
    for waited in $(seq 50); do
      [ -s "$number_file" ] && break
      sleep 0.1
    done
    if [ -s "$number_file" ]; then export DISPLAY=":$(head -n 1 "$number_file")"; fi
    rm -f "$number_file"
  fi
  export LUMENTRACE_XVFB_PID
  LUMENTRACE_WINE_RETRIES="$(cd "$build_dir" && pwd)/wine-retries.log"
  : >"$LUMENTRACE_WINE_RETRIES"
  export LUMENTRACE_WINE LUMENTRACE_WINESERVER LUMENTRACE_WINE_RETRIES
  # The server goes up first, with -p so that it stays when no client is
  # attached. It answers 2 when the prefix already has a server (an earlier
  # source of this script); that one is left as it is.
  mkdir -p "$WINEPREFIX" || return 1
  "$LUMENTRACE_WINESERVER" -p || [ $? -eq 2 ] || return 1
  "$LUMENTRACE_WINE" wineboot.exe </dev/null >>"$build_dir/wine-prefix.log" 2>&1 || return 1
  return 0
}

lumentrace_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${LUMENTRACE_WINESERVER:-}" ]; then
    "$LUMENTRACE_WINESERVER" -k 2>/dev/null || true
    "$LUMENTRACE_WINESERVER" -w 2>/dev/null || true
  fi
  if [ -n "${LUMENTRACE_XVFB_PID:-}" ]; then
    kill "$LUMENTRACE_XVFB_PID" 2>/dev/null || true
    LUMENTRACE_XVFB_PID=""
  fi
  return 0
}

# Number of failed Wine starts tried again since lumentrace_wine_start.
lumentrace_wine_retries() {
  if [ -f "${LUMENTRACE_WINE_RETRIES:-}" ]; then wc -l <"$LUMENTRACE_WINE_RETRIES"; else echo 0; fi
}

lumentrace_wine_run() {
  local prefix=$1 loader=$2
  shift 2
  lumentrace_wine_quiet "$prefix"
  mkdir -p "$prefix" || return 1
  "$loader" wineboot.exe </dev/null >/dev/null 2>&1
  # The output is held back until the program ends, so that a start that
  # printed nothing can be told apart and tried again.
  local out err status try
  out=$(mktemp) && err=$(mktemp) || return 1
  for try in 1 2 3; do
    status=0
    "$loader" "$@" >"$out" 2>"$err" || status=$?
    if [ "$status" -ne 1 ] || [ -s "$out" ] || [ "$try" -eq 3 ]; then break; fi
    [ -z "${LUMENTRACE_WINE_RETRIES:-}" ] ||
      echo "$(basename "$1"): Wine start failed (status 1, no output; stderr: \"$(head -c 200 "$err" | tr '\n' ' ')\"); tried again" >>"$LUMENTRACE_WINE_RETRIES"
  done
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  lumentrace_wine_run "$@"
  exit $?
elif [ $# -gt 0 ]; then
  lumentrace_wine_start "$1"
fi
