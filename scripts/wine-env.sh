# Sourced: sets up Wine for running the Windows build's programs and tests.
#
#   source scripts/wine-env.sh build-win    # prefix in build-win/wine-prefix
#   ctest --test-dir build-win ...
#   lumentrace_wine_stop                    # ends the wineserver again
#
# The prefix (Wine's C: drive and registry) lives inside the build folder, so
# builds do not share state and removing the folder removes it. It is the same
# path cmake/windows-gtest.cmake hands the tests. Making a prefix takes about
# eight seconds and a Wine start without a running wineserver about 0.6 s
# against a few hundredths with one, so the prefix is made once here and its
# wineserver kept running until lumentrace_wine_stop.
lumentrace_wine_start() {
  local build_dir=${1:?usage: source scripts/wine-env.sh BUILD_DIR}
  mkdir -p "$build_dir" || return 1
  WINEPREFIX="$(cd "$build_dir" && pwd)/wine-prefix"
  # No debug channels (their fixme lines would land in the tests' stderr), and
  # no dialog offering to install Mono or Gecko while the prefix is made.
  WINEDEBUG=-all
  WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
  # Debian's /usr/bin/wine is a wrapper that looks for a 32-bit loader first;
  # the 64-bit one is all this build needs.
  LUMENTRACE_WINE=""
  local candidate
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then LUMENTRACE_WINE=$candidate; break; fi
  done
  if [ -z "$LUMENTRACE_WINE" ]; then
    echo "wine-env.sh: no wine found; run scripts/install-windows-deps.sh" >&2
    return 1
  fi
  LUMENTRACE_WINESERVER=/usr/lib/wine/wineserver
  [ -x "$LUMENTRACE_WINESERVER" ] || LUMENTRACE_WINESERVER=$(command -v wineserver) || return 1
  export LUMENTRACE_WINE LUMENTRACE_WINESERVER
  # The server goes up first, with -p so that it stays when no client is
  # attached: started by Wine itself it would end a few seconds after the last
  # program. It answers 2 when the prefix already has a server (an earlier
  # source of this script); that one is left as it is.
  mkdir -p "$WINEPREFIX" || return 1
  "$LUMENTRACE_WINESERVER" -p || [ $? -eq 2 ] || return 1
  # wineboot makes the prefix the first time (several seconds) and starts
  # Wine's service processes. Started from here, with their output going to a
  # log, they hold no pipe of a later program open (see wine-run.sh).
  "$LUMENTRACE_WINE" wineboot.exe </dev/null >>"$build_dir/wine-prefix.log" 2>&1 || return 1
  return 0
}

lumentrace_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -n "${LUMENTRACE_WINESERVER:-}" ] || return 0
  "$LUMENTRACE_WINESERVER" -k 2>/dev/null || true
  "$LUMENTRACE_WINESERVER" -w 2>/dev/null || true
}

if [ $# -gt 0 ]; then lumentrace_wine_start "$1"; fi
