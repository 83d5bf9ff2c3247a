#!/usr/bin/env bash
# Checks that a change to the program leaves its output unchanged, byte for
# byte, on every file bench/run.sh generated.
#
#   bench/compare_outputs.sh save  [BUILD_DIR]   convert them and keep the .srt files
#   bench/compare_outputs.sh check [BUILD_DIR]   convert them again and cmp with the kept ones
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
action=${1:?save or check}
build="$(cd "${2:-$here/../build-bench}" && pwd)"
data="$build/bench-data"
kept="$build/bench-reference"
program=(env -u LC_ALL -u LC_CTYPE LANG=ko_KR.UTF-8 "$build/lumentrace")

mapfile -t inputs < <(find "$data" -name '*.smi' -not -path '*/probe/*' | sort)
[ ${#inputs[@]} -gt 0 ] || { echo "no generated files in $data: run bench/run.sh first" >&2; exit 1; }
"${program[@]}" "${inputs[@]}" >/dev/null

[ "$action" = save ] && rm -rf "$kept"
failed=0
for input in "${inputs[@]}"; do
  output="${input%.smi}.srt"
  copy="$kept/${output#"$data"/}"
  if [ "$action" = save ]; then
    mkdir -p "$(dirname "$copy")"
    cp "$output" "$copy"
  elif ! cmp -s "$output" "$copy"; then
    echo "differs: ${output#"$data"/}"
    failed=1
  fi
done
[ "$action" = save ] && echo "kept ${#inputs[@]} outputs in $kept" && exit 0
[ $failed = 0 ] && echo "all ${#inputs[@]} outputs identical"
exit $failed
