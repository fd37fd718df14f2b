#!/usr/bin/env bash
# Sets up what is missing, builds the native benchmark and the shipped DLL,
# then times the processing loop on each instruction-set path the processor
# has: the native Google Benchmark (its last lines are the cost of moving
# controls and process / plain cascade) and the 32-bit DLL under wine (loud
# noise against the plain cascade built the same way, and the silence cases).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

paths=(sse2)
grep -qw avx /proc/cpuinfo && paths+=(avx)

cmake --preset native >/dev/null
cmake --build --preset native --target process_bench
for path in "${paths[@]}"; do
  echo
  echo "== native, $path path"
  # Repetitions interleaved at random and the least time of each kept: on
  # a shared machine other work only ever adds time, and it falls on every
  # benchmark alike.
  QUORVANE_KERNEL=$path build/native/bench/process_bench --benchmark_repetitions=9 \
    --benchmark_enable_random_interleaving=true --benchmark_min_time=0.2 "$@"
done

cmake --preset windows >/dev/null
cmake --build --preset windows --target silence_timing
for path in "${paths[@]}"; do
  echo
  echo "== the shipped 32-bit DLL under wine, $path path"
  (cd build/windows && QUORVANE_KERNEL=$path ../../cmake/wine-run.sh bench/silence_timing.exe Quorvane.dll) ||
    echo "(not run: wine cannot start here)"
done
