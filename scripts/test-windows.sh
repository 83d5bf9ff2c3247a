#!/usr/bin/env bash
# The Windows build: cross-compiles lumentrace.exe and the in-process tests
# with mingw-w64 in build-win/, runs those tests under Wine, then runs the
# end-to-end suite (a Linux program, built in build-e2e-win/) against the .exe
# under Wine, and packs lumentrace-<version>-win64.zip. Needs what
# `bash scripts/install-deps.sh --windows` installs.
set -euo pipefail
cd "$(dirname "$0")/.."
# The build names the -posix compilers directly (their libstdc++ has
# std::thread), so check for them rather than trusting the alternatives.
for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump unzip; do
  command -v "$tool" >/dev/null ||
    { echo "test-windows.sh: $tool is missing; run: bash scripts/install-deps.sh --windows" >&2; exit 1; }
done
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_WERROR=ON
cmake --build build-win -j"$(nproc)"
# The program needs only DLLs that come with Windows.
imports=$(x86_64-w64-mingw32-objdump -p build-win/lumentrace.exe | awk '/DLL Name/ {print $3}' | sort)
echo "lumentrace.exe imports: $(echo $imports)"
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll | ucrtbase.dll | api-ms-win-*) ;;
    *) echo "lumentrace.exe needs $dll, which Windows does not ship" >&2; exit 1 ;;
  esac
done

source scripts/wine.sh build-win
trap lumentrace_wine_stop EXIT
# A failed Wine start (status 1, nothing on standard output) is tried again by
# scripts/wine.sh and by the end-to-end harness, and only that; the retries
# are counted in build-win/wine-retries.log and reported below.
ctest --test-dir build-win --output-on-failure --no-tests=error -j"$(nproc)"

cmake -S . -B build-e2e-win -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_WERROR=ON \
  -DLUMENTRACE_TEST_PROGRAM="$PWD/build-win/lumentrace.exe" \
  -DLUMENTRACE_TEST_LAUNCHER="$LUMENTRACE_WINE"
cmake --build build-e2e-win -j"$(nproc)" --target lumentrace_tests
ctest --test-dir build-e2e-win --output-on-failure --no-tests=error -j"$(nproc)" \
  -R '^(EndToEnd|Hostile|DirectoryMode|ManualPage|Install)'
echo "Wine starts that failed and were tried again: $(lumentrace_wine_retries)"
[ "$(lumentrace_wine_retries)" -eq 0 ] || cat "$LUMENTRACE_WINE_RETRIES"
(cd build-win && cpack -G ZIP >/dev/null && unzip -l lumentrace-*-win64.zip)
# The zip holds the program, the licence and the guide for Notepad (UTF-8
# with a byte-order mark, CR LF line ends).
zip=$(ls build-win/lumentrace-*-win64.zip)
[ "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' /)" = "LICENSE/READ ME.txt/lumentrace.exe/" ]
unzip -p "$zip" "READ ME.txt" | python3 -c 'import sys; t = sys.stdin.buffer.read()
sys.exit(not (t.startswith(b"\xef\xbb\xbf") and t.count(b"\n") == t.count(b"\r\n") > 20))'
