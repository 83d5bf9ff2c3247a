#!/usr/bin/env bash
# Installs, in one apt-get call, what building and testing need, skipping
# what the machine already has:
#   (always)     the native build and suite: CMake, g++, GoogleTest, Google
#                Benchmark, glibc's locale tools, clang with its sanitizer
#                and libFuzzer runtimes, valgrind, acl and e2fsprogs (the
#                output-safety tests set access lists and attributes)
#   --windows    the mingw-w64 cross compilers (the -posix flavour, whose
#                libstdc++ has std::thread), 64-bit Wine, GoogleTest's sources
#                (built for Windows by the project itself), unzip, and Xvfb, a
#                display on which Wine opens the console window of the
#                double-click test
#   --web        emscripten, Chromium, Node.js 18 or later with npm
#   --package    the Debian package checks: dpkg-dev (dpkg-shlibdeps), file,
#                lintian, groff, binutils
#   --all        all of the above
# Runs apt-get as root, through sudo otherwise; with neither (or without
# apt-get) it lists the packages and fails. Recommended packages are left out
# (Wine's alone are hundreds of megabytes).
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev locales libc-bin clang libclang-rt-14-dev
  llvm valgrind acl e2fsprogs)
windows=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 googletest unzip xvfb xauth)
web=(emscripten chromium nodejs npm)
package=(dpkg-dev file lintian groff-base binutils)
for group in "$@"; do
  case $group in
    --windows) packages+=("${windows[@]}") ;;
    --web) packages+=("${web[@]}") ;;
    --package) packages+=("${package[@]}") ;;
    --all) packages+=("${windows[@]}" "${web[@]}" "${package[@]}") ;;
    *) echo "install-deps.sh: unknown group $group (--windows, --web, --package, --all)" >&2; exit 2 ;;
  esac
done

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
  for p in "${packages[@]}"; do
    # A Node.js from elsewhere (one that bundles npm, and so conflicts with
    # Debian's npm package) serves as well as Debian's.
    case $p in nodejs | npm) if command -v "${p%js}" >/dev/null 2>&1; then continue; fi ;; esac
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
  done
else
  missing=("${packages[@]}")
fi
[ ${#missing[@]} -gt 0 ] || exit 0

as_root=()
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then as_root=(sudo); fi
if ! command -v apt-get >/dev/null 2>&1 || { [ "$(id -u)" -ne 0 ] && [ ${#as_root[@]} -eq 0 ]; }; then
  echo "install-deps.sh: cannot install here; install the equivalents of: ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
