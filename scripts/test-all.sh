#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the native build,
# the sanitizer build and the shipped 32-bit Windows DLL under wine (which is
# also compared with the native build's output), then the fuzz target over its
# corpus and for a bounded run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

for preset in native sanitize tsan windows fuzz; do
  echo "== $preset"
  extra=()
  [ "$preset" = windows ] && extra=(-DQUORVANE_NATIVE_BUILD_DIR="$PWD/build/native")
  cmake --preset "$preset" "${extra[@]}" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
