#!/bin/sh
# deb_package_test.sh CPACK BUILD_DIR VERSION WORK
#
# The tools' package as a user gets it: made by CPack from this build,
# unpacked into a throwaway root, and run from there, far from the build
# tree: the installed quorvane-render must say its version and render the
# demo with the module and plotting script installed beside it.
set -eu
cpack=$1 build=$2 version=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
fail() { echo "deb_package_test: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb="$work/package/quorvane-tools_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb (made: $(ls "$work/package"))"

[ "$(dpkg-deb -f "$deb" Package)" = quorvane-tools ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libsndfile1 python3-matplotlib python3-numpy; do
  echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$needed" ||
    fail "Depends ($depends) lacks $needed"
done

# Everything under /usr, owned by root, nothing writable by others.
dpkg-deb -c "$deb" > "$work/contents"
awk '$6 !~ /^\.\/(usr\/.*)?$/ { print "outside /usr: " $6; bad = 1 }
     $2 != "root/root" { print "owner " $2 ": " $6; bad = 1 }
     substr($1, 9, 1) == "w" { print "writable by all: " $6; bad = 1 }
     END { exit bad }' "$work/contents" || fail "package contents"
root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/quorvane-render usr/lib/quorvane/Quorvane.so usr/lib/quorvane/plot_response.py \
            usr/share/man/man1/quorvane-render.1 usr/share/doc/quorvane-tools/Quorvane-manual.html \
            usr/share/doc/quorvane-tools/CHANGES.md; do
  [ -f "$root/$file" ] || fail "the package does not install /$file"
done

said=$("$root/usr/bin/quorvane-render" --version) || fail "quorvane-render --version failed"
echo "$said" | grep -q "$version" || fail "quorvane-render --version says '$said', not $version"

# The demo from the installed copy, run from an unrelated folder.
mkdir "$work/demo"
(cd "$work/demo" && "$root/usr/bin/quorvane-render" --quiet --out-dir "$work/demo") ||
  fail "the installed quorvane-render did not render the demo"
for file in quorvane-demo-input.wav quorvane-demo-output.wav quorvane-demo-response.png; do
  [ -s "$work/demo/$file" ] || fail "the demo did not write $file"
done
cmp -s "$work/demo/quorvane-demo-input.wav" "$work/demo/quorvane-demo-output.wav" &&
  fail "the demo's output equals its input: the installed module did not filter"
echo "$deb: $(wc -l < "$work/contents") entries; $said; demo rendered from the installed copy"
rm -rf "$work"
