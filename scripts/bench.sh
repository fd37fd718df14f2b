#!/usr/bin/env bash
# Sets up what is missing, builds the native benchmark and the shipped DLL,
# then times the processing loop on each instruction-set path the processor
# has: the native Google Benchmark (its last lines are the cost of moving
# controls and process / plain cascade) and the 32-bit DLL through run-32bit
# (loud noise against the plain cascade built the same way, and the silence
# cases). Where the kernel runs no 32-bit programs the DLL runs emulated, and
# its timing program says "not timed (emulated)" instead of figures.
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
cmake --build --preset windows --target silence_timing quorvane_dll_runner
# One wine server and the prefix's services for all runs, their chatter in
# the prefix's log; stopped at the end.
build/windows/run-32bit --prepare
trap 'build/windows/run-32bit --stop' EXIT
for path in "${paths[@]}"; do
  echo
  echo "== the shipped 32-bit DLL ($(build/windows/run-32bit --which)), $path path"
  (cd build/windows && QUORVANE_KERNEL=$path ./run-32bit bench/silence_timing.exe Quorvane.dll)
done
