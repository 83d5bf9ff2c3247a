#!/usr/bin/env bash
# Builds the Debian package from a fresh Release build in build-package/ and
# checks what ships: lintian prints no error or warning, the hardening is in
# the binary, the changelog's top entry is the package's version, a plain
# `cmake --install` puts the same files in place, and the manual page renders
# without a groff warning.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --package
build="$PWD/build-package"
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_TESTS=OFF -DLUMENTRACE_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/lumentrace_*.deb)
echo "== $deb"
status=0
fail() {
  echo "!! $*"
  status=1
}

# Default level: errors and warnings. (As root lintian says so on stderr.)
report=$(lintian "$deb" 2>/dev/null) || fail "lintian exited with status $?"
[ -z "$report" ] || echo "$report"
if grep -qE '^[EW]: ' <<<"$report"; then fail "lintian reports errors or warnings"; fi

# Hardening is reported at info level only. A build whose calls all have sizes
# known at compile time has no fortified call left to find, so that one tag is
# checked at the compiler flags instead.
hardening=$(lintian -I "$deb" 2>/dev/null | grep -E 'hardening-' | grep -v 'hardening-no-fortify-functions' || true)
[ -z "$hardening" ] || fail "hardening missing: $hardening"
grep -q -- '-D_FORTIFY_SOURCE=2' "$build/CMakeFiles/lumentrace.dir/flags.make" ||
  fail "the program is not built with _FORTIFY_SOURCE"

version=$(dpkg-deb -f "$deb" Version)
logged=$(dpkg-parsechangelog -l packaging/changelog.Debian -S Version)
[ "$version" = "$logged" ] || fail "package $version, but packaging/changelog.Debian starts at $logged"

staged="$build/staged"
cmake --install "$build" --prefix "$staged" >/dev/null
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort)
installed=$(cd "$staged" && find . -type f | sed 's|^\./||' | sort)
[ "$packaged" = "$installed" ] || fail "cmake --install and the package differ:
$(diff <(echo "$packaged") <(echo "$installed") || true)"

warnings=$(groff -man -ww -z doc/lumentrace.1 2>&1)
[ -z "$warnings" ] || fail "doc/lumentrace.1 does not render cleanly:
$warnings"

[ $status -ne 0 ] || echo "package checks passed"
exit $status
