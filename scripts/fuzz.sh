#!/usr/bin/env bash
# Builds the libFuzzer targets with sanitizers in build-fuzz/ and runs each of
# them for SECONDS seconds (default 60) over a working copy of the seed corpus.
# New inputs stay in build-fuzz/fuzz-corpus/<target>/; a crash, hang or
# out-of-memory input lands in build-fuzz/fuzz-artifacts/<target>/ and fails
# the run: commit it to tests/fuzz/regressions/ so that every test run replays it.
# FUZZ_KEEP_GOING=1 goes on after a failure (libFuzzer's fork mode) to collect
# every failing input of a long run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
root="$PWD"
build="$root/build-fuzz"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DLUMENTRACE_FUZZ=ON -DLUMENTRACE_SANITIZE=ON -DLUMENTRACE_TESTS=OFF -DLUMENTRACE_WERROR=ON >/dev/null
cmake --build "$build" -j2

# Each input is converted into real files; a RAM-backed folder keeps that cheap.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

keep_going=()
if [ "${FUZZ_KEEP_GOING:-0}" = 1 ]; then
  keep_going=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
fi

status=0
for target in fuzz_convert_c fuzz_convert_utf8 fuzz_convert_ko; do
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  before=$(ls -A "$artifacts" | wc -l)
  echo "== $target: ${seconds}s"
  failed=0
  # -timeout: no input may take 2 s (the conversion is linear; a hang is a bug).
  "$build/tests/fuzz/$target" "${keep_going[@]}" -max_total_time="$seconds" -timeout=2 \
    -rss_limit_mb=2048 -max_len=16384 -dict="$root/tests/fuzz/sami.dict" \
    -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$corpus" "$root/tests/fuzz/corpus" "$root/tests/fuzz/regressions" \
    2>"$build/fuzz-$target.log" || failed=1
  [ "$(ls -A "$artifacts" | wc -l)" -eq "$before" ] || failed=1
  grep -E "DONE|^#[0-9]+: cov|stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz-$target.log" |
    tail -n 3 || true
  if [ $failed -ne 0 ]; then
    status=1
    echo "!! $target failed; see $build/fuzz-$target.log and $artifacts/"
  fi
done
exit $status
