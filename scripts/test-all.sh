#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the native build,
# the sanitizer build and the shipped 32-bit Windows DLL under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

for preset in native sanitize windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
