#!/usr/bin/env bash
# The web page's test: installs the npm packages pinned in
# web/package-lock.json, builds the native program if needed, builds the page
# (web/build.sh) and runs the browser test, which compares every .srt the
# page makes with the native program's. Needs what
# `bash scripts/install-deps.sh --web` installs (emscripten, Chromium, Node.js
# 18 or later with npm).
#   SCREENSHOT=doc/web-page.png bash scripts/test-web.sh   also saves pictures of the page,
#   in English and (doc/web-page-ko.png) in Korean, which needs a Korean font (fonts-nanum)
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v em++ >/dev/null || missing+=(emscripten)
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
command -v localedef >/dev/null || missing+=(locales)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "test-web.sh: missing ${missing[*]}; run: bash scripts/install-deps.sh --web" >&2
  exit 1
fi
# The browser driver (playwright-core, pinned) runs on Node.js 18 and later.
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 18 ]; then
  echo "test-web.sh: Node.js $(node --version) is too old; the browser test needs 18 or later" >&2
  exit 1
fi
(cd web && npm ci --no-audit --no-fund)

if [ ! -x build/lumentrace ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j"$(nproc)"
fi
bash web/build.sh
# The character classes of both builds, for the test to compare.
cmake --build build -j"$(nproc)" --target char_classes
cp build/char_classes web/build/char_classes
NODE_PATH=${NODE_PATH:-/usr/share/nodejs} cmake --build web/build -j"$(nproc)" --target char_classes kernel_check
# The page's vector loops, compiled to WebAssembly SIMD128, against the portable ones.
node --no-experimental-fetch web/build/kernel_check.js
node web/test/browser_test.js build/lumentrace
