#!/usr/bin/env bash
# Installs what the Windows cross build and its Wine test runs need, skipping
# what the machine already has: the mingw-w64 compilers (the -posix flavour,
# whose libstdc++ has std::thread and std::mutex), 64-bit Wine, GoogleTest's
# sources (built for Windows by the project itself), and glibc's locale tools
# (the tests run Wine under generated Linux locales). Only 64-bit programs are
# built, so no i386 architecture is added.
set -euo pipefail
packages=(cmake make g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 googletest locales libc-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The -posix compilers are an alternative of the plain names; the build names
# them directly, so check they are there rather than trusting the alternatives.
command -v x86_64-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null || command -v wine64 >/dev/null
