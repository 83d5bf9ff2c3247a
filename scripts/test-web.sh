#!/usr/bin/env bash
# The web page's test: installs what is missing (emscripten, Chromium, the
# npm packages pinned in web/package-lock.json), builds the native program if
# needed, builds the page (web/build.sh) and runs the browser test, which
# compares every .srt the page makes with the native program's.
#   SCREENSHOT=doc/web-page.png bash scripts/test-web.sh   also saves pictures of the page,
#   in English and (doc/web-page-ko.png) in Korean, which needs a Korean font (fonts-nanum)
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v em++ >/dev/null || missing+=(emscripten)
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v npm >/dev/null || missing+=(npm)
command -v localedef >/dev/null || missing+=(locales)
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
(cd web && npm ci --no-audit --no-fund)

if [ ! -x build/lumentrace ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j"$(nproc)"
fi
bash web/build.sh
# The character classes of both builds, for the test to compare.
flags=(-std=c++17 -O1 -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Werror -I.)
g++ "${flags[@]}" web/test/char_classes.cpp text/locale_text_posix.cpp -o web/build/char_classes
NODE_PATH=${NODE_PATH:-/usr/share/nodejs} em++ "${flags[@]}" web/test/char_classes.cpp \
  text/locale_text_web.cpp -o web/build/char_classes.js -sENVIRONMENT=node
node web/test/browser_test.js build/lumentrace
