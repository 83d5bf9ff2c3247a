#!/usr/bin/env bash
# Installs what building and testing need, skipping what the machine already has.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libbenchmark-dev locales libc-bin clang libclang-rt-14-dev valgrind)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
