#!/usr/bin/env bash
# Builds the web page into web/dist/: the conversion compiled to WebAssembly
# with Debian's emscripten (the project's CMake build, configured for it in
# web/build/), the page's own files and the zip library. Serve web/dist/ with
# any static file server, or open web/dist/lumentrace.html, the whole page in
# one file. Needs emscripten (`bash scripts/install-deps.sh --web`) and the
# zip library (`npm ci --omit=dev` in web/; the test tools are not needed to
# build).
set -euo pipefail
cd "$(dirname "$0")"
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

# Checked before the compile, which takes about a minute.
if ! command -v em++ >/dev/null || ! command -v emcmake >/dev/null; then
  echo "web/build.sh: em++ is missing; run: bash scripts/install-deps.sh --web" >&2
  exit 1
fi
if [ ! -f node_modules/fflate/umd/index.js ]; then
  echo "web/build.sh: the zip library is missing; run 'npm ci --omit=dev' in web/ first" >&2
  exit 1
fi

rm -rf build dist
mkdir -p dist
emcmake cmake -S .. -B build -DCMAKE_BUILD_TYPE=Release -DLUMENTRACE_WERROR=ON \
  -DLUMENTRACE_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target lumentrace_web

cp page/index.html page/style.css page/page.js page/worker.js dist/
cp build/lumentrace.js build/lumentrace.wasm dist/
cp node_modules/fflate/umd/index.js dist/fflate.js
# The same page in one file, for use from disk and offline.
node single_page.js
echo "web/dist: $(cat dist/* | wc -c) bytes, $(for f in dist/*; do gzip -9c "$f"; done | wc -c) gzipped"
