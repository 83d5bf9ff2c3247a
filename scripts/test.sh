#!/usr/bin/env bash
# Runs every test: installs what they need (scripts/install-deps.sh --windows
# --web), builds the program and its tests in build/ with warnings as errors
# and runs them (the native suite), then the Windows build's tests under Wine
# (scripts/test-windows.sh) and the web page's in headless Chromium
# (scripts/test-web.sh). --native installs and runs the native suite only.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --native ]; then
  bash scripts/install-deps.sh
else
  bash scripts/install-deps.sh --windows --web
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_TESTS=ON -DLUMENTRACE_WERROR=ON
cmake --build build -j"$(nproc)"
# No tests at all (GoogleTest went missing) is a failure, not an empty success.
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"
[ "${1:-}" = --native ] && exit 0
bash scripts/test-windows.sh
bash scripts/test-web.sh
