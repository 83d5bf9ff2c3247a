#!/usr/bin/env bash
# Installs what the tests need (scripts/install-deps.sh), builds the program and
# its tests in build/ with warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_TESTS=ON -DLUMENTRACE_WERROR=ON
cmake --build build -j"$(nproc)"
# No tests at all (GoogleTest went missing) is a failure, not an empty success.
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"
