#!/usr/bin/env bash
# Draws the manual's response plots (docs/response-*.png), one band of each
# of the nine responses, measured from the running module by quorvane-render
# at 48 kHz, drawn for the manual's column (tools/plot_response.py). Run it
# after a change to the filters or the plotting script and commit the plots.
#   scripts/manual-plots.sh              with the native preset's build
#   scripts/manual-plots.sh BUILD-DIR    with a configured build of your own
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test

build="${1:-}"
if [ -z "$build" ]; then
  cmake --preset native >/dev/null
  build=build/native
fi
cmake --build "$build" --target quorvane-render -j2
render="$build/tools/quorvane-render"

# name  band setting (the settings the manual's captions describe)
plots=(
  "lowpass        lowpass,1kHz,q0.707"
  "highpass       highpass,1kHz,q0.707"
  "bandpass-skirt bandpass-skirt,1kHz,1oct"
  "bandpass-peak  bandpass-peak,1kHz,1oct"
  "notch          notch,1kHz,1oct"
  "allpass        allpass,1kHz,1oct"
  "peaking        peaking,1kHz,1oct,+6dB"
  "lowshelf       lowshelf,200Hz,q0.707,+6dB"
  "highshelf      highshelf,5kHz,q0.707,-6dB"
)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for entry in "${plots[@]}"; do
  read -r name setting <<<"$entry"
  "$render" --quiet --rate 48000 --out-dir "$scratch" --band "1=$setting" \
            --response "docs/response-$name.png"
  echo "docs/response-$name.png: band 1 = $setting"
done
