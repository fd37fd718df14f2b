#!/bin/sh
# deb_lintian_test.sh CPACK BUILD_DIR VERSION WORK
#
# The tools' package as a distributor judges it: lintian, Debian's package
# checker, on the deb CPack makes from this build. Any error or warning
# fails; the informational tags it prints are listed and argued for in the
# README ("Releases").
set -eu
cpack=$1 build=$2 version=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
fail() { echo "deb_lintian_test: $*" >&2; exit 1; }

command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
(cd "$build" && "$cpack" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$work/package/quorvane-tools_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb (made: $(ls "$work/package"))"

# --fail-on makes the status say whether an error or a warning was found;
# the tags themselves go to the log either way.
status=0
lintian --display-info --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings on $deb (status $status)"
echo "$deb: lintian reports no error and no warning"
rm -rf "$work"
