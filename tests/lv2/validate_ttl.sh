#!/bin/sh
# Checks every description in the bundle (plug-in, manifest, presets) against the installed LV2 vocabulary with
# lv2_validate. Exit 77 (skipped) only when the validator is not installed.
set -u
bundle=$1
if ! command -v lv2_validate >/dev/null 2>&1 || ! command -v sord_validate >/dev/null 2>&1; then
  echo "lv2_validate skipped: lv2_validate (lv2-dev) or sord_validate (sordi) is not installed"
  exit 77
fi
report=$(lv2_validate "$bundle"/*.ttl 2>&1)
status=$?
echo "$report"
# lv2_validate reports errors in its summary line but exits 0 regardless.
[ "$status" -eq 0 ] && echo "$report" | grep -q "^Found 0 errors" && exit 0
exit 1
