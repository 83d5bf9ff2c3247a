#!/usr/bin/env bash
# Checks that a change to the program leaves its output unchanged, byte for
# byte: on a set of its own (every generator shape in every encoding, cut at
# odd places, and UTF-8 films with an invalid byte late in them) and on every
# file bench/run.sh generated.
#
#   bench/compare_outputs.sh save  [BUILD_DIR]   convert them and keep the outputs' checksums
#   bench/compare_outputs.sh check [BUILD_DIR]   convert them again and compare
#
# Outputs up to 16 MiB are also kept whole, so that a difference in them can be
# looked at with cmp; larger outputs are removed once their checksum is taken.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
action=${1:?save or check}
case $action in save | check) ;; *) echo "save or check, not $action" >&2; exit 2 ;; esac
build="$(cd "${2:-$here/../build-bench}" && pwd)"
data="$build/bench-data"
kept="$build/bench-reference"
generate="$build/bench/lumentrace_samigen"
program=(env -u LC_ALL -u LC_CTYPE LANG=ko_KR.UTF-8 "$build/lumentrace")
[ -x "$generate" ] || { echo "missing $generate: configure with -DLUMENTRACE_BENCH=ON and build" >&2; exit 1; }

# The set of its own, made again when the generator is newer than it.
set_dir="$data/compare"
mkdir -p "$set_dir"
if [ ! -f "$set_dir/.made" ] || [ "$generate" -nt "$set_dir/.made" ]; then
  rm -f "$set_dir"/*.smi "$set_dir"/*.srt
  for shape in film repeat real run block tiny; do
    for encoding in utf8 utf8bom utf16 cp949; do
      "$generate" "$shape" "$encoding" 3000000 "$set_dir/$shape-$encoding.smi"
    done
  done
  # Ends that fall inside a tag, a character, an entity or a UTF-16 unit.
  for encoding in utf8 utf8bom utf16 cp949; do
    for cut in 1000001 1000002 1000003 1999999; do
      head -c "$cut" "$set_dir/real-$encoding.smi" >"$set_dir/cut$cut-real-$encoding.smi"
    done
  done
  # UTF-8 without a byte-order mark that turns out not to be UTF-8 near its
  # end: read again from the start in the ANSI code page (CP949 here). One
  # stray byte, and one Hangul syllable cut short.
  source="$set_dir/film-utf8.smi"
  at=$(($(stat -c %s "$source") * 9 / 10))
  { head -c "$at" "$source"; printf '\xff'; tail -c +"$((at + 1))" "$source"; } >"$set_dir/late-ff-film-utf8.smi"
  { head -c "$at" "$source"; printf '\xea\xb0 '; tail -c +"$((at + 1))" "$source"; } >"$set_dir/late-cut-film-utf8.smi"
  touch "$set_dir/.made"
fi

mapfile -t inputs < <(find "$data" -name '*.smi' -not -path '*/probe/*' -not -path '*/startup/*' | sort)
"${program[@]}" "${inputs[@]}" >/dev/null

sums="$kept/outputs.sha256"
if [ "$action" = save ]; then
  rm -rf "$kept"
  mkdir -p "$kept"
fi
current=$(mktemp)
trap 'rm -f "$current"' EXIT
for input in "${inputs[@]}"; do
  output="${input%.smi}.srt"
  [ -f "$output" ] || { echo "no output for ${input#"$data"/}" >&2; exit 1; }
  (cd "$data" && sha256sum "${output#"$data"/}") >>"$current"
  if [ "$(stat -c %s "$output")" -gt $((16 * 1048576)) ]; then
    rm -f "$output"  # only its checksum is kept: no need to hold gigabytes
  elif [ "$action" = save ]; then
    copy="$kept/${output#"$data"/}"
    mkdir -p "$(dirname "$copy")"
    cp "$output" "$copy"
  fi
done

if [ "$action" = save ]; then
  cp "$current" "$sums"
  echo "kept the checksums of ${#inputs[@]} outputs in $kept"
  exit 0
fi
[ -f "$sums" ] || { echo "nothing kept in $kept: run save first" >&2; exit 1; }
declare -A now=()
while read -r sum name; do now[$name]=$sum; done <"$current"
failed=0 compared=0
while read -r sum name; do
  compared=$((compared + 1))
  if [ -z "${now[$name]+set}" ]; then
    echo "missing: $name"
    failed=1
  elif [ "${now[$name]}" != "$sum" ]; then
    echo "differs: $name"
    failed=1
  fi
done <"$sums"
new=$((${#now[@]} - compared))
[ "$new" -gt 0 ] && echo "($new outputs not kept before: save again to cover them)"
[ $failed = 0 ] && echo "all $compared kept outputs identical"
exit $failed
