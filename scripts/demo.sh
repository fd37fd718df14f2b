#!/usr/bin/env bash
# The main job on a fresh Debian 12: installs what is missing, builds the
# shipped 32-bit Windows DLL and the native module with quorvane-render, then
# renders the demo (a generated test signal through five bands) and plots the
# equaliser's response as measured from the module. The files go to
# build/demo/ (or the folder given as $1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh main

echo "== building the shipped Windows DLL (build/windows)"
# The presets also configure the tests, benchmarks, LV2 plug-in and packages,
# which need the test set of packages; the demo needs none of them.
cmake --preset windows -DQUORVANE_TESTS=OFF -DQUORVANE_PACKAGES=OFF >/dev/null
cmake --build --preset windows --target Quorvane

echo "== building the native module and quorvane-render (build/native)"
cmake --preset native -DQUORVANE_TESTS=OFF -DQUORVANE_BENCH=OFF -DQUORVANE_LV2=OFF \
      -DQUORVANE_PACKAGES=OFF >/dev/null
cmake --build --preset native --target quorvane-render

out="${1:-build/demo}"
mkdir -p "$out"
echo "== rendering the demo"
build/native/tools/quorvane-render --out-dir "$out"

cat <<DONE

Shipped module: $PWD/build/windows/Quorvane.dll
Demo audio:     $out/quorvane-demo-input.wav (dry), $out/quorvane-demo-output.wav (equalised)
Response plot:  $out/quorvane-demo-response.png
Your own file:  build/native/tools/quorvane-render --band 2=peaking,1kHz,1oct,+6dB IN.wav OUT.wav
DONE
