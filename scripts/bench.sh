#!/usr/bin/env bash
# Sets up what is missing, builds the native benchmark and the shipped DLL,
# then times the processing loop: the native Google Benchmark (its last line
# is the ratio against the plain scalar cascade) and the 32-bit DLL under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native --target process_bench
build/native/bench/process_bench "$@"

cmake --preset windows >/dev/null
cmake --build --preset windows --target silence_timing
echo
echo "== the shipped 32-bit DLL under wine"
(cd build/windows && WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all wine bench/silence_timing.exe Quorvane.dll)
