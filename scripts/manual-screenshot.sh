#!/usr/bin/env bash
# Builds the manual's HTML page and photographs it as a reader sees it at
# 100 % zoom, 1000 pixels wide, in headless Chromium (installed if missing):
# OUT.png (default manual.png) shows the whole page, for a look at the plots'
# legends, the tables and the links before a release.
#   scripts/manual-screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
if ! command -v chromium >/dev/null; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium >/dev/null
fi
out="${1:-manual.png}"
cmake --preset native >/dev/null
cmake --build build/native --target quorvane_manual
page="$PWD/build/native/manual/Quorvane-manual.html"
# Tall enough for the whole page (about 31 000 pixels now); the rest is white.
height=45000
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=1 \
  --window-size=1000,"$height" --screenshot="$out" "file://$page" >/dev/null 2>&1
echo "the manual at 100 %: $out"
