#!/usr/bin/env bash
# Runs the whole test suite with every run of the program under valgrind's
# memcheck. The end-to-end tests start the binary the build made; here that
# path holds a small wrapper that starts the real program under memcheck, so
# a memory error or a definite leak changes the exit status (to 99) and fails
# the test that ran it. Usage: scripts/valgrind.sh [BUILD_DIR] [CTEST_ARGS...]
# (default build-valgrind; the wrapper stays in that folder's binary).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-valgrind}"
shift || true
bin="$build/lumentrace"

# Put the real program back first, so that the build relinks it when needed.
if [ -f "$bin" ] && [ "$(head -c 2 "$bin")" = "#!" ]; then rm -f "$bin" "$bin.real"; fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENTRACE_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2
mv "$bin" "$bin.real"
cat >"$bin" <<WRAPPER
#!/bin/sh
exec valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
  "$PWD/$bin.real" "\$@"
WRAPPER
chmod +x "$bin"
# Memcheck is some thirty times slower: one test at a time, with room to finish.
ctest --test-dir "$build" --output-on-failure --timeout 1800 "$@"
