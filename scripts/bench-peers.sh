#!/usr/bin/env bash
# Sets up what is missing, builds our LV2 bundle and the peers benchmark, then
# times our plug-in beside the other equalisers set to the same five bells.
# Extra arguments go to the benchmark (--rounds N, --seconds S). The figures
# are CPU time per stereo frame, medians over interleaved rounds; on a busy
# machine they still move, the ratios less than the absolute values.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

cmake --preset native >/dev/null
cmake --build --preset native --target quorvane_lv2 quorvane-peer-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
LV2_PATH="$PWD/build/native/lib/lv2:/usr/lib/lv2:/usr/local/lib/lv2" \
  build/native/bench/peers/quorvane-peer-bench --work-dir "$work" "$@"
