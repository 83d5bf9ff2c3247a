#!/usr/bin/env bash
# Installs what building and testing need, skipping what the machine already
# has. Extra package names given as arguments are installed too (the package
# check adds its own tools this way). Without apt-get it only says what to get.
# NO_RECOMMENDS=1 leaves out the packages' recommendations (Wine's are many).
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev locales libc-bin clang libclang-rt-14-dev valgrind "$@")
if ! command -v dpkg >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: no apt-get here; install the equivalents of: ${packages[*]}"
  exit 0
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  extra=()
  [ "${NO_RECOMMENDS:-0}" = 1 ] && extra=(--no-install-recommends)
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${extra[@]}" "${missing[@]}"
fi
