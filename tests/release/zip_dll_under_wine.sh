#!/bin/sh
# zip_dll_under_wine.sh EMULATOR HOST_EXE ZIP VERSION WORK
#
# The DLL as a user unpacks it, loaded by the stand-in host under wine the
# way the host loads it: it must describe itself with the release's version.
# Exits 77 (skipped) where wine cannot start.
set -eu
emulator=$1 host=$2 zip=$3 version=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
python3 -m zipfile -e "$zip" "$work"
folder="$work/Quorvane-$version"
# Beside the DLL, so the library search finds the unpacked copy first.
cp "$host" "$folder/"
status=0
output=$(cd "$folder" && "$emulator" "$(basename "$host")" Quorvane.dll 2>&1) || status=$?
[ "$status" -eq 77 ] && { echo "$output"; exit 77; }
echo "$output"
[ "$status" -eq 0 ] || { echo "the stand-in host failed ($status)" >&2; exit 1; }
echo "$output" | grep -q "^about: Five Band EQ $version " ||
  { echo "the about text does not show version $version" >&2; exit 1; }
echo "$output" | grep -q "^pins: 24" || { echo "the unpacked DLL did not open with 24 pins" >&2; exit 1; }
rm -rf "$work"
