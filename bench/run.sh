#!/usr/bin/env bash
# Measures lumentrace: throughput against iconv on the same bytes, scaling with
# the input, per-file overhead and peak resident memory.
#
#   bench/run.sh [BUILD_DIR]        (default: build-bench beside this folder)
#
# BUILD_DIR must be configured with -DLUMENTRACE_BENCH=ON and built. Generated
# files go to BUILD_DIR/bench-data and are kept for the next run. Each figure is
# the best of RUNS runs (default 3). SIZE_MB (default 50) sets the throughput
# file; the 2,000-file comparison uses 2 x SIZE_MB. QUICK=1 skips it.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
runs="${RUNS:-3}"
size_mb="${SIZE_MB:-50}"
mib=1048576

program="$build/lumentrace"
generate="$build/bench/lumentrace_samigen"
measure="$build/bench/lumentrace_measure"
for tool in "$program" "$generate" "$measure"; do
  [ -x "$tool" ] || { echo "missing $tool: configure with -DLUMENTRACE_BENCH=ON and build" >&2; exit 1; }
done
command -v iconv >/dev/null || { echo "iconv is needed for the reference runs" >&2; exit 1; }

data="$build/bench-data"
mkdir -p "$data"
# Korean locale name: CP949 files are read in its ANSI code page; UTF-8 files
# without a byte-order mark are valid UTF-8 and read as such.
# (Set for the runs only: the shell itself need not have the locale.)
program_run=(env -u LC_ALL -u LC_CTYPE LANG=ko_KR.UTF-8 "$program")

# make_file SHAPE ENCODING BYTES [PARTS] -> prints the path, generating it once.
make_file() {
  local shape=$1 encoding=$2 bytes=$3 parts=${4:-1}
  local path="$data/$shape-$encoding-$bytes-$parts.smi"
  if [ ! -f "$path" ]; then
    if [ "$parts" -gt 1 ]; then
      rm -rf "$path.parts"
      "$generate" "$shape" "$encoding" "$bytes" "$path" --split "$parts"
    else
      "$generate" "$shape" "$encoding" "$bytes" "$path"
    fi
  fi
  echo "$path"
}

# best_of DIR|- COMMAND... -> "wall cpu maxrss_kib": the least wall time, the least
# CPU time (user + system) and the largest peak over $runs runs. CPU time is the
# steadier figure on a machine that other work shares.
best_of() {
  local cwd=$1
  shift
  local best="" cpu_best="" peak=0 line wall cpu rss status
  local where=()
  [ "$cwd" = - ] || where=(--cwd "$cwd")
  for ((r = 0; r < runs; r++)); do
    line=$("$measure" "${where[@]}" --stdout "$data/stdout.txt" -- "$@")
    wall=$(sed -E 's/.*wall=([0-9.]+).*/\1/' <<<"$line")
    rss=$(sed -E 's/.*maxrss_kib=([0-9]+).*/\1/' <<<"$line")
    cpu=$(awk '{ split($2, u, "="); split($3, s, "="); printf "%.6f", u[2] + s[2] }' <<<"$line")
    status=$(sed -E 's/.*status=([0-9]+).*/\1/' <<<"$line")
    if [ "$status" != 0 ]; then
      echo "failed (status $status): $*" >&2
      exit 1
    fi
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall; fi
    if [ -z "$cpu_best" ] || awk -v a="$cpu" -v b="$cpu_best" 'BEGIN { exit !(a < b) }'; then cpu_best=$cpu; fi
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$best $cpu_best $peak"
}

size_of() { stat -c %s "$1"; }
mbps() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.1f", b / 1048576 / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# rss_row BYTES RSS_KIB -> "peak MiB (budget MiB) ok|OVER"
rss_row() {
  awk -v b="$1" -v k="$2" 'BEGIN {
    peak = k / 1024; budget = b / 1048576 + 16
    printf "%7.1f MiB (budget %6.1f) %s", peak, budget, peak <= budget ? "ok" : "OVER" }'
}

echo "lumentrace benchmark: $(uname -m), $(nproc) cores, best of $runs runs, LANG=ko_KR.UTF-8"
echo "binary: $program"
echo

echo "== Throughput: ${size_mb} MB film, lumentrace against iconv on the same bytes =="
printf "%-9s %6s %11s %11s %6s %9s  %s\n" input MB lumentrace iconv ratio "CPU ratio" "lumentrace peak RSS"
for encoding in utf8 utf8bom utf16 cp949; do
  case $encoding in
    utf8 | utf8bom) from=UTF-8 ;;
    utf16) from=UTF-16LE ;;
    cp949) from=CP949 ;;
  esac
  file=$(make_file film "$encoding" $((size_mb * mib)))
  bytes=$(size_of "$file")
  # Alternate the two, so that both see the same load on the machine.
  t_prog="" t_ref="" c_prog="" c_ref="" rss_prog=0
  for ((k = 0; k < runs; k++)); do
    read -r t c rss < <(runs=1 best_of - "${program_run[@]}" "$file")
    read -r u d _ < <(runs=1 best_of - sh -c 'exec iconv -f "$1" -t UTF-16LE "$2" > "$3"' sh "$from" "$file" "$data/iconv.out")
    if [ -z "$t_prog" ] || awk -v a="$t" -v b="$t_prog" 'BEGIN { exit !(a < b) }'; then t_prog=$t; fi
    if [ -z "$t_ref" ] || awk -v a="$u" -v b="$t_ref" 'BEGIN { exit !(a < b) }'; then t_ref=$u; fi
    if [ -z "$c_prog" ] || awk -v a="$c" -v b="$c_prog" 'BEGIN { exit !(a < b) }'; then c_prog=$c; fi
    if [ -z "$c_ref" ] || awk -v a="$d" -v b="$c_ref" 'BEGIN { exit !(a < b) }'; then c_ref=$d; fi
    [ "$rss" -gt "$rss_prog" ] && rss_prog=$rss
  done
  printf "%-9s %6.1f %6s MB/s %6s MB/s %6s %9s  %s\n" "$encoding" "$(awk -v b="$bytes" 'BEGIN{print b/1048576}')" \
    "$(mbps "$bytes" "$t_prog")" "$(mbps "$bytes" "$t_ref")" "$(ratio "$t_ref" "$t_prog")" "$(ratio "$c_ref" "$c_prog")" \
    "$(rss_row "$bytes" "$rss_prog")"
done
echo "(ratio = lumentrace MB/s / iconv MB/s by wall time, CPU ratio by user + system time;"
echo " iconv -f <input encoding> -t UTF-16LE, both writing to a file; targets, CPU and wall:"
echo " utf8 and utf8bom >= 0.8, utf16 and cp949 >= 0.6)"
echo

# scaling SHAPE BASE_BYTES LABEL: 1x, 4x, 16x of the same shape in UTF-8 without a byte-order mark.
scaling() {
  local shape=$1 base=$2 label=$3 t1="" c1="" factor file bytes t c rss
  echo "-- $label"
  for factor in 1 4 16; do
    file=$(make_file "$shape" utf8 $((base * factor)))
    bytes=$(size_of "$file")
    read -r t c rss < <(best_of - "${program_run[@]}" "$file")
    [ -z "$t1" ] && t1=$t && c1=$c
    printf "  %3sx %6.1f MB %7.3f s %6.1f MB/s  time %6sx  CPU %7.3f s %6sx  %s\n" "$factor" \
      "$(awk -v b="$bytes" 'BEGIN{print b/1048576}')" "$t" "$(mbps "$bytes" "$t")" \
      "$(ratio "$t" "$t1")" "$c" "$(ratio "$c" "$c1")" "$(rss_row "$bytes" "$rss")"
  done
}

echo "== Scaling: 1x, 4x, 16x (target: 16x input in at most 17x the time) =="
scaling film $((size_mb * mib / 16)) "film"
scaling run $((size_mb * mib / 16)) "one run of identical captions (1x holds over 10,000 of them)"
scaling block $((size_mb * mib / 16)) "one caption block (16x is a ${size_mb} MB block)"
scaling tiny $((24 * mib / 16)) "tiny blocks (16x is about a million of them)"
echo

if [ "${QUICK:-0}" = 1 ]; then exit 0; fi

echo "== Per-file overhead: one $((2 * size_mb)) MB file against the same bytes in 2,000 files =="
single=$(make_file film utf8 $((2 * size_mb * mib)) 2000)
tree="$single.parts"
bytes=$(size_of "$single")
read -r t_one c_one rss_one < <(best_of - "${program_run[@]}" "$single")
# Directory mode (no arguments) searches the current folder's tree; a build
# without it finds nothing there, and then the paths are passed as arguments.
probe="$data/probe"
rm -rf "$probe" && mkdir -p "$probe/sub" && cp "$tree/d00/f0000.smi" "$probe/sub/"
"$measure" --cwd "$probe" -- "${program_run[@]}" >/dev/null
if [ -f "$probe/sub/f0000.srt" ]; then
  mode="directory mode (no arguments, run in the tree)"
  read -r t_many c_many rss_many < <(best_of "$tree" "${program_run[@]}")
else
  mode="2,000 paths as arguments (this build has no directory mode)"
  mapfile -t paths < <(find "$tree" -name '*.smi' | sort)
  read -r t_many c_many rss_many < <(best_of - "${program_run[@]}" "${paths[@]}")
fi
printf "  one file     %8.1f MB %9.3f s %7s MB/s  %s\n" "$(awk -v b="$bytes" 'BEGIN{print b/1048576}')" \
  "$t_one" "$(mbps "$bytes" "$t_one")" "$(rss_row "$bytes" "$rss_one")"
printf "  2,000 files  %8.1f MB %9.3f s %7s MB/s  (largest file %s KiB, peak RSS %.1f MiB)\n" \
  "$(awk -v b="$bytes" 'BEGIN{print b/1048576}')" "$t_many" "$(mbps "$bytes" "$t_many")" \
  "$(( $(find "$tree" -name '*.smi' -printf '%s\n' | sort -n | tail -1) / 1024 ))" \
  "$(awk -v k="$rss_many" 'BEGIN{print k/1024}')"
echo "  2,000 files / one file: $(ratio "$t_many" "$t_one")x wall, $(ratio "$c_many" "$c_one")x CPU (target: at most 1.5x)"
echo "  $mode; every .srt already there, so each is replaced (and made durable first)"
# The same with no .srt there before the run: each output is new, and no
# earlier file has to be kept safe while it is replaced. The two alternate.
t_one_new="" c_one_new="" t_many_new="" c_many_new=""
for ((k = 0; k < runs; k++)); do
  rm -f "${single%.smi}.srt"
  read -r t c _ < <(runs=1 best_of - "${program_run[@]}" "$single")
  find "$tree" -name '*.srt' -delete
  if [ -f "$probe/sub/f0000.srt" ]; then
    read -r u d _ < <(runs=1 best_of "$tree" "${program_run[@]}")
  else
    read -r u d _ < <(runs=1 best_of - "${program_run[@]}" "${paths[@]}")
  fi
  if [ -z "$t_one_new" ] || awk -v a="$t" -v b="$t_one_new" 'BEGIN { exit !(a < b) }'; then t_one_new=$t; fi
  if [ -z "$c_one_new" ] || awk -v a="$c" -v b="$c_one_new" 'BEGIN { exit !(a < b) }'; then c_one_new=$c; fi
  if [ -z "$t_many_new" ] || awk -v a="$u" -v b="$t_many_new" 'BEGIN { exit !(a < b) }'; then t_many_new=$u; fi
  if [ -z "$c_many_new" ] || awk -v a="$d" -v b="$c_many_new" 'BEGIN { exit !(a < b) }'; then c_many_new=$d; fi
done
echo "  new .srt files: 2,000 files / one file: $(ratio "$t_many_new" "$t_one_new")x wall, $(ratio "$c_many_new" "$c_one_new")x CPU"
