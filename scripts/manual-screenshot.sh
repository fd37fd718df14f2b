#!/usr/bin/env bash
# Builds the two manual pages and photographs each as a reader sees it at
# 100 % zoom, 1000 pixels wide, in headless Chromium (installed if missing):
#   PREFIX-host.png   the host user's manual (the Windows zip's)
#   PREFIX-linux.png  the LV2 plug-in's and quorvane-render's (the deb's)
# each the whole page, for a look at the plots' legends, the tables and the
# links before a release.
#   scripts/manual-screenshot.sh [PREFIX]      (default PREFIX: manual)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
if ! command -v chromium >/dev/null; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium >/dev/null
fi
prefix="${1:-manual}"
prefix="${prefix%.png}"
cmake --preset native >/dev/null
cmake --build build/native --target quorvane_manual
for reader in host linux; do
  page="$PWD/build/native/manual/$reader/Quorvane-manual.html"
  out="$prefix-$reader.png"
  # Tall enough for either whole page (each about 20 000 pixels now); the
  # rest is white.
  height=32000
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=1 \
    --window-size=1000,"$height" --screenshot="$out" "file://$page" >/dev/null 2>&1
  echo "the $reader manual at 100 %: $out"
done
