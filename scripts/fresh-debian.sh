#!/usr/bin/env bash
# Proves that a newcomer's path works on a brand-new Debian 12: builds a
# minimal Debian 12 root with debootstrap, copies a clean clone of this
# repository's committed HEAD into it, and runs inside it, as root, the
# README's commands in order: the apt-get line, the build-and-convert line,
# then the test command (or, with --ci, .ci/run as CI runs it). Prints the
# time of each step. Not run by CI: it needs about 5 GB of disk and 20 to 40
# minutes, and must run as root on a Debian-like host.
#
#   bash scripts/fresh-debian.sh [--ci] [ROOT]   # ROOT defaults to build-fresh/root
#
# The root's package sources are the host's own (read from its apt
# configuration), so the run reaches exactly what this machine reaches. ROOT
# is removed first, and its mounts are undone on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
mode=test
if [ "${1:-}" = --ci ]; then mode=ci; shift; fi
root=${1:-$repo/build-fresh/root}

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-debian.sh: run as root (debootstrap and chroot need it)" >&2
  exit 1
fi
command -v debootstrap >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq debootstrap
}

# The commands are taken from the README itself, so that this proves what a
# newcomer reads.
readme_line() {
  grep -m1 -E "^    $1" README.md | sed 's/^    //'
}
install_line=$(readme_line 'apt-get install ')
build_line=$(readme_line 'cmake -S \. -B build && ')
test_line=$(readme_line 'bash scripts/test\.sh$')
for line in "$install_line" "$build_line" "$test_line"; do
  [ -n "$line" ] || { echo "fresh-debian.sh: a README command is missing" >&2; exit 1; }
done

mirror=$(
  { grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
    grep -h -E '^deb ' /etc/apt/sources.list 2>/dev/null || true; } |
    awk '{print $2}' | grep -v security | head -n 1 || true
)
[ -n "$mirror" ] || { echo "fresh-debian.sh: no Debian mirror in the host's apt sources" >&2; exit 1; }

mounted=()
undo_mounts() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap undo_mounts EXIT

step_start=0
step() {
  step_start=$(date +%s)
  echo "== $*"
}
step_done() {
  echo "== done in $(($(date +%s) - step_start)) s"
}

total_start=$(date +%s)
step "debootstrap bookworm (minbase) into $root"
# Never remove through a mount left by an earlier run that was killed: that
# would reach into the host's /dev and /sys.
if awk -v r="$root/" 'index($2, r) == 1 {found = 1} END {exit !found}' /proc/mounts; then
  echo "fresh-debian.sh: $root still has mounts; umount them first" >&2
  exit 1
fi
rm -rf --one-file-system "$root"
mkdir -p "$root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -n 20 "$root.debootstrap.log"; exit 1; }
step_done

# The host's sources (security updates included), its name resolution, and
# the kernel's file systems, as on a real machine.
rm -f "$root/etc/apt/sources.list"
cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/" 2>/dev/null || true
[ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$root/etc/apt/"
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
# The host's own trust roots too: where its network reaches the package
# registries through a local certificate authority, so must the root.
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
fi
for fs in proc sys dev dev/pts dev/shm; do
  mkdir -p "$root/$fs"
  case $fs in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount --rbind /sys "$root/sys" ;;
    dev) mount --rbind /dev "$root/dev" ;;
    *) mountpoint -q "$root/$fs" || mount --bind "/$fs" "$root/$fs" ;;
  esac
  mounted+=("$root/$fs")
done
# The chroot shell sees none of this session's environment but a plain PATH.
in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "set -euo pipefail; cd /root/lumentrace; $1"
}

step "a clean clone of $(git rev-parse --short HEAD) into the root"
git clone -q --no-local "$repo" "$root/root/lumentrace"
step_done

step "README: $install_line"
in_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive ${install_line/install /install -y -qq }"
# Node.js reads only its own roots unless told of the system's.
in_root 'if [ -d /usr/local/share/ca-certificates ]; then DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ca-certificates && update-ca-certificates >/dev/null; fi'
step_done

step "README: $build_line"
in_root "$build_line"
in_root 'test -s examples/sample.srt'
step_done

echo "== Node.js in the root: $(in_root 'command -v node >/dev/null && node --version || echo none yet')"
if [ $mode = ci ]; then
  step "CI: CI=true bash .ci/run"
  in_root 'CI=true bash .ci/run </dev/null'
else
  step "README: $test_line"
  in_root "$test_line"
fi
step_done
echo "== Node.js used: $(in_root 'node --version')"
echo "== fresh Debian 12: every step passed in $(($(date +%s) - total_start)) s"
