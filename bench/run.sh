#!/usr/bin/env bash
# Measures lumentrace against its targets: throughput against iconv and
# against the read-and-write floor, scaling with the input and peak memory,
# the instructions of a start, and the overhead of many small files.
#
#   bench/run.sh [BUILD_DIR]        (default: build-bench beside this folder)
#
# BUILD_DIR must be configured with -DLUMENTRACE_BENCH=ON and built (all of
# its bench/ targets). Generated files go to BUILD_DIR/bench-data and are kept
# for the next run (made again when the generator is newer).
#
# Every figure is the median of RUNS runs (default 3); the commands a figure
# compares run in turn within each round, so that they share the machine's
# load. CPU time (user + system) is the figure the targets use; wall time is
# printed beside it. Ratios are taken between medians.
#
#   RUNS=3        runs per figure
#   SIZE_MB=50    the throughput file and the total of the 2,000 files; the
#                 scaling files are SIZE_MB/4 (1x), SIZE_MB (4x) and 4 x SIZE_MB (16x)
#   SECTIONS="throughput scaling startup files"   the sections to run, in order
#   QUICK=1       leaves out the 2,000-file section
#   FILES_DIR=DIR runs the 2,000-file section on a copy of its files in DIR
#                 (a tmpfs such as /dev/shm, say): on some disks creating many
#                 files soon after many were removed costs the system more
#                 than the program, and run after run more; or on a freshly
#                 made ext4 with a journal, as most Linux disks are (as root:
#                 truncate -s 3G fs.img && mkfs.ext4 -q fs.img &&
#                 mount -o loop fs.img DIR)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
runs="${RUNS:-3}"
size_mb="${SIZE_MB:-50}"
sections="${SECTIONS:-throughput scaling startup files}"
[ "${QUICK:-0}" = 1 ] && sections="${sections//files/}"
mib=1048576

program="$build/lumentrace"
generate="$build/bench/lumentrace_samigen"
measure="$build/bench/lumentrace_measure"
floor="$build/bench/lumentrace_floor"
for tool in "$program" "$generate" "$measure" "$floor"; do
  [ -x "$tool" ] || { echo "missing $tool: configure with -DLUMENTRACE_BENCH=ON and build" >&2; exit 1; }
done
command -v iconv >/dev/null || { echo "iconv is needed for the reference runs" >&2; exit 1; }

data="$build/bench-data"
mkdir -p "$data"
# Korean locale name: CP949 files are read in its ANSI code page; UTF-8 files
# without a byte-order mark are valid UTF-8 and read as such.
# (Set for the runs only: the shell itself need not have the locale.)
korean=(env -u LC_ALL -u LC_CTYPE LANG=ko_KR.UTF-8)
program_run=("${korean[@]}" "$program")

# make_file SHAPE ENCODING BYTES [PARTS] -> prints the path, generating it when
# missing or older than the generator.
make_file() {
  local shape=$1 encoding=$2 bytes=$3 parts=${4:-1}
  local path="$data/$shape-$encoding-$bytes-$parts.smi"
  if [ ! -f "$path" ] || [ "$generate" -nt "$path" ]; then
    if [ "$parts" -gt 1 ]; then
      rm -rf "$path.parts"
      "$generate" "$shape" "$encoding" "$bytes" "$path" --split "$parts"
    else
      "$generate" "$shape" "$encoding" "$bytes" "$path"
    fi
  fi
  echo "$path"
}

# once DIR|- STDOUT COMMAND... -> "wall cpu maxrss_kib user" of one run of
# COMMAND, in DIR (- for here), its standard output going to STDOUT. A failed
# run ends the benchmark. Callers remove the previous run's output first, so
# that no run pays for freeing the one before (hundreds of MB at 16x).
once() {
  local cwd=$1 out=$2 line status
  shift 2
  local where=()
  [ "$cwd" = - ] || where=(--cwd "$cwd")
  line=$("$measure" "${where[@]}" --stdout "$out" -- "$@")
  status=$(sed -E 's/.*status=([0-9]+).*/\1/' <<<"$line")
  if [ "$status" != 0 ]; then
    echo "failed (status $status): $*" >&2
    exit 1
  fi
  awk '{ for (i = 1; i <= NF; ++i) { split($i, f, "="); v[f[1]] = f[2] }
         printf "%s %.6f %s %s\n", v["wall"], v["user"] + v["sys"], v["maxrss_kib"], v["user"] }' <<<"$line"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
largest() { printf '%s\n' "$@" | sort -g | tail -1; }
size_of() { stat -c %s "$1"; }
in_mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# at_least VALUE TARGET -> "ok" or "BELOW"; at_most VALUE TARGET -> "ok" or "OVER"
at_least() { awk -v a="$1" -v t="$2" 'BEGIN { print (a >= t ? "ok" : "BELOW") }'; }
at_most() { awk -v a="$1" -v t="$2" 'BEGIN { print (a <= t ? "ok" : "OVER") }'; }

# The targets' verdicts, printed together at the end.
verdicts=()
verdict() { verdicts+=("$(printf '%-6s %s' "$1" "$2")"); }

echo "lumentrace benchmark: $(uname -m), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "median of $runs runs, LANG=ko_KR.UTF-8, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "binary: $program"
echo

throughput() {
  echo "== Throughput: ${size_mb} MB films, CPU time against iconv -f ENC -t UTF-16LE and the floor =="
  echo "(s = median CPU seconds, user + system; wall seconds in brackets. vs iconv = iconv's time /"
  echo " lumentrace's: above 1 is faster. floor = $(basename "$floor"): the same file read and as many"
  echo " bytes as lumentrace's output written through one reused 1 MiB buffer, no conversion;"
  echo " of floor = the floor's time / lumentrace's. All three write to a file.)"
  printf "%-8s %-7s %6s  %-17s %-17s %-17s %-15s %-7s %-7s %s\n" input shape MB lumentrace iconv floor \
    "vs iconv" target "" "of floor (floor vs iconv)"
  local encoding shape from target file bytes srt output_bytes k t c rss
  for encoding in utf8 utf8bom utf16 cp949; do
    case $encoding in
      utf8 | utf8bom) from=UTF-8 target=1.5 ;;
      utf16) from=UTF-16LE target=1.2 ;;
      cp949) from=CP949 target=1.2 ;;
    esac
    for shape in film repeat real; do
      file=$(make_file "$shape" "$encoding" $((size_mb * mib)))
      bytes=$(size_of "$file")
      srt="${file%.smi}.srt"
      local pw=() pc=() iw=() ic=() fw=() fc=() peaks=()
      for ((k = 0; k < runs; k++)); do
        rm -f "$srt"
        read -r t c rss _ < <(once - "$data/stdout.txt" "${program_run[@]}" "$file")
        pw+=("$t") pc+=("$c") peaks+=("$rss")
        output_bytes=$(size_of "$srt")
        rm -f "$data/iconv.out"
        read -r t c rss _ < <(once - "$data/iconv.out" iconv -f "$from" -t UTF-16LE "$file")
        iw+=("$t") ic+=("$c")
        rm -f "$data/floor.out"
        read -r t c rss _ < <(once - "$data/stdout.txt" "$floor" "$file" "$data/floor.out" "$output_bytes")
        fw+=("$t") fc+=("$c")
      done
      rm -f "$srt" "$data/iconv.out" "$data/floor.out"
      local p_c p_w i_c i_w f_c f_w vs vs_wall
      p_c=$(median "${pc[@]}") p_w=$(median "${pw[@]}")
      i_c=$(median "${ic[@]}") i_w=$(median "${iw[@]}")
      f_c=$(median "${fc[@]}") f_w=$(median "${fw[@]}")
      vs=$(ratio "$i_c" "$p_c") vs_wall=$(ratio "$i_w" "$p_w")
      printf "%-8s %-7s %6s  %6.3f s (%6.3f) %6.3f s (%6.3f) %6.3f s (%6.3f) %5sx (%5sx) >= %-4s %-7s %4s%% (%sx)\n" \
        "$encoding" "$shape" "$(in_mb "$bytes")" "$p_c" "$p_w" "$i_c" "$i_w" "$f_c" "$f_w" "$vs" "$vs_wall" \
        "$target" "$(at_least "$vs" "$target")" \
        "$(awk -v f="$f_c" -v p="$p_c" 'BEGIN { printf "%.0f", 100 * f / p }')" "$(ratio "$i_c" "$f_c")"
      verdict "$(at_least "$vs" "$target")" "$encoding $shape: ${vs}x iconv by CPU (target >= ${target}x)"
    done
  done
  echo "(peak RSS of these runs: see the scaling section)"
  echo
}

# scale SHAPE LABEL: 1x, 4x and 16x of the same shape in UTF-8 without a byte-order mark.
scale() {
  local shape=$1 label=$2 base=$((size_mb * mib / 4)) factor f k t c rss u
  local -a files=() factors=(1 4 16)
  echo "-- $shape: $label"
  for factor in "${factors[@]}"; do files+=("$(make_file "$shape" utf8 $((base * factor)))"); done
  local -A cpu=() user=() wall=() peak=()
  for ((k = 0; k < runs; k++)); do
    for ((f = 0; f < 3; f++)); do
      rm -f "${files[f]%.smi}.srt"
      read -r t c rss u < <(once - "$data/stdout.txt" "${program_run[@]}" "${files[f]}")
      cpu[$f]+=" $c" user[$f]+=" $u" wall[$f]+=" $t" peak[$f]+=" $rss"
    done
  done
  for ((f = 0; f < 3; f++)); do rm -f "${files[f]%.smi}.srt"; done
  local c1="" u1="" w1="" mc mu mw mp bytes growth
  for ((f = 0; f < 3; f++)); do
    # shellcheck disable=SC2086
    mc=$(median ${cpu[$f]}) mu=$(median ${user[$f]}) mw=$(median ${wall[$f]}) mp=$(largest ${peak[$f]})
    [ -z "$c1" ] && c1=$mc u1=$mu w1=$mw
    bytes=$(size_of "${files[f]}")
    printf "  %3sx %6s MB  CPU %7.3f s %6.1f MB/s %6sx (user %6sx)  wall %7.3f s %6sx  peak RSS %6.1f MiB" \
      "${factors[f]}" "$(in_mb "$bytes")" "$mc" "$(awk -v b="$bytes" -v t="$mc" 'BEGIN { print b / 1048576 / t }')" \
      "$(ratio "$mc" "$c1")" "$(ratio "$mu" "$u1")" "$mw" "$(ratio "$mw" "$w1")" "$(awk -v k="$mp" 'BEGIN { print k / 1024 }')"
    if [ "${factors[f]}" = 16 ]; then
      growth=$(ratio "$mc" "$c1")
      printf "  (16x CPU <= 17x: %s" "$(at_most "$growth" 17)"
      verdict "$(at_most "$growth" 17)" "linear, $shape: 16x the input in ${growth}x the CPU time, $(ratio "$mu" "$u1")x the user time (target <= 17x)"
      case $shape in
        film | repeat | real)
          local mib_peak
          mib_peak=$(awk -v k="$mp" 'BEGIN { printf "%.1f", k / 1024 }')
          printf "; peak <= 64 MiB: %s" "$(at_most "$mib_peak" 64)"
          verdict "$(at_most "$mib_peak" 64)" "memory, $shape $(in_mb "$bytes") MB: peak RSS $mib_peak MiB (target <= 64 MiB)"
          ;;
      esac
      printf ")"
    fi
    echo
  done
}

scaling() {
  echo "== Scaling: 1x, 4x, 16x the input, UTF-8 (targets: 16x the input in at most 17x the CPU time;"
  echo "   peak memory at most 64 MiB on a film of about $((4 * size_mb)) MB) =="
  scale film "the project's film"
  scale repeat "every caption over 2 to 6 blocks"
  scale real "real-world markup"
  scale run "one run of identical captions"
  scale block "one caption block (16x is a single block of $((4 * size_mb)) MB)"
  scale tiny "the smallest blocks, neighbours differing (16x is about $((4 * size_mb * 1000 / 16 / 1000)) million)"
  echo
}

# The instructions of one start, converting a tiny UTF-8 file: the program as
# built, wholly static, and with only its C++ runtime linked in.
startup() {
  echo "== Start-up: instructions (callgrind, total Ir) converting a tiny UTF-8 file =="
  if ! command -v valgrind >/dev/null; then
    echo "  valgrind is not installed: skipped"
    verdict "-" "start-up: not measured (no valgrind)"
    echo
    return
  fi
  local folder="$data/startup" name binary ir
  mkdir -p "$folder"
  printf '<SAMI>\r\n<BODY>\r\n<SYNC Start=1000><P Class=KRCC>안녕하세요<br>Hello\r\n<SYNC Start=2500><P Class=KRCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n' \
    >"$folder/tiny.smi"
  for name in lumentrace bench/lumentrace_static bench/lumentrace_static_runtime; do
    binary="$build/$name"
    if [ ! -x "$binary" ]; then
      printf "  %-32s not built\n" "$(basename "$binary")"
      continue
    fi
    ir=$(cd "$folder" && "${korean[@]}" valgrind --tool=callgrind --callgrind-out-file=/dev/null \
      "$binary" tiny.smi 2>&1 >/dev/null | sed -nE 's/.*Collected : ([0-9]+).*/\1/p')
    [ -f "$folder/tiny.srt" ] || { echo "no output from $binary" >&2; exit 1; }
    rm -f "$folder/tiny.srt"
    case $name in
      lumentrace) printf "  %-32s %6.2f M  dynamically linked\n" "lumentrace" "$(awk -v n="$ir" 'BEGIN { print n / 1e6 }')" ;;
      bench/lumentrace_static)
        printf "  %-32s %6.2f M  wholly static (target <= 0.35 M: %s)\n" "lumentrace_static" \
          "$(awk -v n="$ir" 'BEGIN { print n / 1e6 }')" "$(at_most "$ir" 350000)"
        verdict "$(at_most "$ir" 350000)" "start-up, static: $(awk -v n="$ir" 'BEGIN { printf "%.2f", n / 1e6 }') M instructions (target <= 0.35 M)"
        ;;
      *) printf "  %-32s %6.2f M  libstdc++ and libgcc linked in (LUMENTRACE_STATIC)\n" "lumentrace_static_runtime" \
        "$(awk -v n="$ir" 'BEGIN { print n / 1e6 }')" ;;
    esac
  done
  echo
}

files() {
  echo "== Per-file overhead: one ${size_mb} MB film against the same bytes in 2,000 files (target: at most 1.5x;"
  echo "   median of $((runs < 5 ? 5 : runs)) runs) =="
  local single tree bytes probe mode k t c rss
  single=$(make_file film utf8 $((size_mb * mib)) 2000)
  tree="$single.parts"
  local copy=""
  if [ -n "${FILES_DIR:-}" ]; then
    copy=$(mktemp -d "$FILES_DIR/lumentrace-bench.XXXXXX")
    cp -r "$tree" "$copy/parts" && cp "$single" "$copy/film.smi"
    single="$copy/film.smi" tree="$copy/parts"
    echo "   (on a copy in $FILES_DIR: $(df --output=fstype "$copy" | tail -1))"
  fi
  bytes=$(size_of "$single")
  # Directory mode (no arguments) searches the current folder's tree; a build
  # without it finds nothing there, and then the paths are passed as arguments.
  probe="$data/probe"
  rm -rf "$probe" && mkdir -p "$probe/sub" && cp "$tree/d00/f0000.smi" "$probe/sub/"
  "$measure" --cwd "$probe" -- "${program_run[@]}" >/dev/null
  local many=()
  if [ -f "$probe/sub/f0000.srt" ]; then
    mode="directory mode (no arguments, run in the tree)"
    many=("${program_run[@]}")
  else
    mode="2,000 paths as arguments (this build has no directory mode)"
    mapfile -t paths < <(find "$tree" -name '*.smi' | sort)
    many=("${program_run[@]}" "${paths[@]}")
  fi
  # The pair is quick, and one file's run is short enough for the machine's
  # other work to move it: at least 5 rounds.
  local ow=() oc=() op=() ou=() mw=() mc=() mp=() mu=() u rounds=$((runs < 5 ? 5 : runs))
  # Each round converts a fresh copy of the tree, all made (and written out)
  # before the first round, as a folder someone converts for the first time.
  # Removing the 2,000 .srt between rounds instead would make the next round
  # pay for it: a file system without a journal (such as this machine's ext4)
  # passes over inodes freed in the last minute when it creates files, one
  # lookup each, and the many-file run would be measured against the
  # benchmark's own deletions.
  local copies=() round_tree foc=() fmc=()
  [ "$mode" = "${mode#2,000 paths}" ] || copies=("$tree")
  if [ "${#copies[@]}" = 0 ]; then
    for ((k = 0; k < rounds; k++)); do
      round_tree="$tree.round$k"
      rm -rf "$round_tree" && cp -r "$tree" "$round_tree"
      find "$round_tree" -name '*.srt' -delete
      copies+=("$round_tree")
    done
    sync
  fi
  for ((k = 0; k < rounds; k++)); do
    rm -f "${single%.smi}.srt"
    read -r t c rss u < <(once - "$data/stdout.txt" "${program_run[@]}" "$single")
    ow+=("$t") oc+=("$c") op+=("$rss") ou+=("$u")
    round_tree="${copies[$((k % ${#copies[@]}))]}"
    [ "${#copies[@]}" -gt 1 ] || find "$round_tree" -name '*.srt' -delete
    read -r t c rss u < <(once "$round_tree" "$data/stdout.txt" "${many[@]}")
    mw+=("$t") mc+=("$c") mp+=("$rss") mu+=("$u")
    # The floor of both: the same files read and outputs of the same sizes
    # written as new files, no conversion.
    [ "${#copies[@]}" -gt 1 ] || continue
    read -r t c rss u < <(once - "$data/stdout.txt" "$floor" "$single" "$data/floor.out" \
      "$(size_of "${single%.smi}.srt")")
    foc+=("$c")
    find "$round_tree" -name '*.srt' -printf '%p\t%s\n' |
      awk -F '\t' '{ base = substr($1, 1, length($1) - 4); print base ".smi\t" base ".floor\t" $2 }' \
        >"$data/floor.list"
    read -r t c rss u < <(once - "$data/stdout.txt" "$floor" --list "$data/floor.list")
    fmc+=("$c")
  done
  rm -f "${single%.smi}.srt" "$data/floor.out" "$data/floor.list"
  find "$tree" -name '*.srt' -delete
  local o_c o_w m_c m_w growth
  o_c=$(median "${oc[@]}") o_w=$(median "${ow[@]}") m_c=$(median "${mc[@]}") m_w=$(median "${mw[@]}")
  printf "  one file     %6s MB  CPU %7.3f s  wall %7.3f s  peak RSS %6.1f MiB\n" "$(in_mb "$bytes")" \
    "$o_c" "$o_w" "$(awk -v k="$(largest "${op[@]}")" 'BEGIN { print k / 1024 }')"
  printf "  2,000 files  %6s MB  CPU %7.3f s  wall %7.3f s  peak RSS %6.1f MiB  (largest file %s KiB)\n" \
    "$(in_mb "$bytes")" "$m_c" "$m_w" "$(awk -v k="$(largest "${mp[@]}")" 'BEGIN { print k / 1024 }')" \
    "$(($(find "$tree" -name '*.smi' -printf '%s\n' | sort -n | tail -1) / 1024))"
  growth=$(ratio "$m_c" "$o_c")
  echo "  2,000 files / one file: ${growth}x CPU ($(ratio "$m_w" "$o_w")x wall," \
    "$(ratio "$(median "${mu[@]}")" "$(median "${ou[@]}")")x user): $(at_most "$growth" 1.5)"
  echo "  $mode; no .srt there before each run, each run on a fresh copy of the tree"
  [ "${#fmc[@]}" = 0 ] || echo "  floor (the same files read and outputs of the same sizes written, no conversion):" \
    "2,000 files $(printf %.3f "$(median "${fmc[@]}")") s, one file $(printf %.3f "$(median "${foc[@]}")") s CPU:" \
    "$(ratio "$(median "${fmc[@]}")" "$(median "${foc[@]}")")x;" \
    "2,000 files beyond one: lumentrace +$(awk -v a="$m_c" -v b="$o_c" 'BEGIN { printf "%.3f", a - b }') s," \
    "floor +$(awk -v a="$(median "${fmc[@]}")" -v b="$(median "${foc[@]}")" 'BEGIN { printf "%.3f", a - b }') s" \
    "(at 1.5x the 2,000 files may add $(awk -v b="$o_c" 'BEGIN { printf "%.3f", b / 2 }') s beyond one file)"
  verdict "$(at_most "$growth" 1.5)" "directory mode: 2,000 files in ${growth}x the CPU time of one file (target <= 1.5x)"
  # The same with every .srt already there: each is replaced, and the earlier
  # file is kept safe (made durable) until its replacement takes its place.
  local rc=() rw=() sc=() sw=()
  read -r t c rss _ < <(once - "$data/stdout.txt" "${program_run[@]}" "$single")
  read -r t c rss _ < <(once "$tree" "$data/stdout.txt" "${many[@]}")
  for ((k = 0; k < rounds; k++)); do
    read -r t c rss _ < <(once - "$data/stdout.txt" "${program_run[@]}" "$single")
    sw+=("$t") sc+=("$c")
    read -r t c rss _ < <(once "$tree" "$data/stdout.txt" "${many[@]}")
    rw+=("$t") rc+=("$c")
  done
  rm -f "${single%.smi}.srt"
  find "$tree" -name '*.srt' -delete
  echo "  every .srt replaced: 2,000 files / one file: $(ratio "$(median "${rc[@]}")" "$(median "${sc[@]}")")x CPU" \
    "($(ratio "$(median "${rw[@]}")" "$(median "${sw[@]}")")x wall)"
  [ "${#copies[@]}" -gt 1 ] && rm -rf "${copies[@]}"
  [ -n "$copy" ] && rm -rf "$copy"
  echo
}

for section in $sections; do
  case $section in
    throughput | scaling | startup | files) "$section" ;;
    *) echo "unknown section: $section" >&2; exit 2 ;;
  esac
done

if [ ${#verdicts[@]} -gt 0 ]; then
  echo "== Targets =="
  printf '  %s\n' "${verdicts[@]}"
  echo "  $(printf '%s\n' "${verdicts[@]}" | grep -c '^ok') of ${#verdicts[@]} met"
fi
