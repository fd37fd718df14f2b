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
scripts/setup.sh test

paths=(sse2)
grep -qw avx /proc/cpuinfo && paths+=(avx)
grep -qw avx512f /proc/cpuinfo && grep -qw avx512dq /proc/cpuinfo && paths+=(avx512)

cmake --preset native >/dev/null
cmake --build --preset native --target process_bench
for path in "${paths[@]}"; do
  echo
  echo "== native, $path path"
  # Many short repetitions interleaved at random and the least time of each
  # kept: on a shared machine other work only ever adds time, comes and goes
  # within seconds, and falls on every benchmark alike.
  QUORVANE_KERNEL=$path build/native/bench/process_bench --benchmark_repetitions=25 \
    --benchmark_enable_random_interleaving=true --benchmark_min_time=0.05 "$@"
done

cmake --preset windows >/dev/null
cmake --build --preset native --target silence_timing
cmake --build --preset windows --target silence_timing quorvane_dll_runner
# One wine server and the prefix's services for all runs, their chatter in
# the prefix's log; stopped at the end.
build/windows/run-32bit --prepare
trap 'build/windows/run-32bit --stop' EXIT
runner=$(build/windows/run-32bit --which)
for path in "${paths[@]}"; do
  echo
  echo "== the shipped 32-bit DLL ($runner), $path path"
  (cd build/windows && QUORVANE_KERNEL=$path ./run-32bit bench/silence_timing.exe Quorvane.dll)
done
[ "$runner" = wine ] || exit 0

# The DLL against the native library through the same timing program: three
# runs of each in turn per path, the least loud-noise time of each kept. The
# 32-bit plain cascade's code is the same whatever path the DLL takes, so its
# baseline is its least over every run of every path: under wine its own time
# has moved from 16 to 68 ns a frame between runs of one timing program (on
# an AMD EPYC, 16 in every run where the DLL took its SSE2 path and 21 to 53
# in most where it took AVX or AVX-512, with the upper halves cleared before it
# and its buffers spread over a page alike), where the DLL's moved by a few
# percent.
loud() { sed -n 's/.*loud noise \([0-9.]*\) ns.*/\1/p'; }
plain() { sed -n 's/^plain cascade \([0-9.]*\) ns.*/\1/p'; }
steps() { sed -n 's/.*the steady steps alone \([0-9.]*\) ns.*/\1/p'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b != "" && b < a ? b : a) }'; }
declare -A native dll nativeSteps dllSteps
base=1e9
for path in "${paths[@]}"; do
  native[$path]=1e9 dll[$path]=1e9 nativeSteps[$path]=1e9 dllSteps[$path]=1e9
  for round in 1 2 3; do
    n=$(QUORVANE_KERNEL=$path build/native/bench/silence_timing build/native/Quorvane.so)
    out=$(cd build/windows && QUORVANE_KERNEL=$path ./run-32bit bench/silence_timing.exe Quorvane.dll)
    native[$path]=$(least "${native[$path]}" "$(loud <<<"$n")")
    nativeSteps[$path]=$(least "${nativeSteps[$path]}" "$(steps <<<"$n")")
    dll[$path]=$(least "${dll[$path]}" "$(loud <<<"$out")")
    dllSteps[$path]=$(least "${dllSteps[$path]}" "$(steps <<<"$out")")
    base=$(least "$base" "$(plain <<<"$out")")
  done
done
echo
for path in "${paths[@]}"; do
  # Beside each ratio, its floor: the 32-bit build's steady steps alone (the
  # DLL's own steps, compiled the same way) against the native build's and
  # against the 32-bit plain cascade.
  awk -v p="$path" -v n="${native[$path]}" -v d="${dll[$path]}" -v b="$base" \
      -v ns="${nativeSteps[$path]}" -v ds="${dllSteps[$path]}" \
    'BEGIN { printf "%s path: DLL %.2f ns per frame, native %.2f: the DLL takes %.2f x the native time" \
                    " (floor: the 32-bit steady steps alone %.2f ns against the native %.2f, %.2f x);" \
                    " %.2f of the 32-bit plain cascade (%.2f ns, its least over every run; floor %.2f)\n",
                    p, d, n, d / n, ds, ns, ds / ns, d / b, b, ds / b }'
done
