#!/usr/bin/env bash
# Builds the web page into web/dist/: the conversion compiled to WebAssembly
# with Debian's emscripten, the page's own files and the zip library. Serve
# web/dist/ with any static file server. Needs emscripten and `npm ci` in web/
# (scripts/test-web.sh installs both).
set -euo pipefail
cd "$(dirname "$0")"
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

# Only what ConvertBytes reaches, with the web's platform files.
sources=(
  text/char_decoding.cpp text/code_page.cpp text/text_stream.cpp text/wide_string.cpp
  text/code_page_web.cpp text/locale_text_web.cpp
  convert/block_scanner.cpp convert/caption_cleanup.cpp convert/conversion.cpp
  convert/srt_output.cpp convert/sync_block.cpp
)
flags=(-std=c++17 -O2 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Werror -I..)

rm -rf build dist
mkdir -p build dist
em++ "${flags[@]}" lumentrace_web.cpp "${sources[@]/#/../}" -o build/lumentrace.js \
  -sMODULARIZE -sEXPORT_NAME=createLumentrace -sENVIRONMENT=worker \
  -sALLOW_MEMORY_GROWTH -sFILESYSTEM=0 -sEXPORTED_RUNTIME_METHODS=UTF8ToString \
  -sEXPORTED_FUNCTIONS=_malloc,_free,_lumentrace_convert,_lumentrace_define_code_page,_lumentrace_code_page_for_locale

if [ ! -f node_modules/fflate/umd/index.js ]; then
  echo "web/build.sh: the zip library is missing; run 'npm ci' in web/ first" >&2
  exit 1
fi
cp page/index.html page/style.css page/page.js page/worker.js dist/
cp build/lumentrace.js build/lumentrace.wasm dist/
cp node_modules/fflate/umd/index.js dist/fflate.js
echo "web/dist: $(cat dist/* | wc -c) bytes, $(for f in dist/*; do gzip -9c "$f"; done | wc -c) gzipped"
