#!/bin/sh
# deb_package_test.sh CPACK BUILD_DIR VERSION LICENSE WORK
#
# The tools' package as a user gets it: made by CPack from this build,
# unpacked into a throwaway root, and run from there, far from the build
# tree: the installed quorvane-render must say its version and render the
# demo with the module and plotting script installed beside it. What lets
# anyone redistribute it must be there too: the copyright file with
# LICENSE's holders and text, a changelog whose newest entry is this
# version, and the LV2 bundle's description naming its licence.
set -eu
cpack=$1 build=$2 version=$3 licence=$4 work=$5
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
            usr/share/man/man1/quorvane-render.1.gz usr/share/doc/quorvane-tools/Quorvane-manual.html \
            usr/share/doc/quorvane-tools/CHANGES.md \
            usr/share/doc/quorvane-tools/copyright usr/share/doc/quorvane-tools/changelog.gz \
            usr/lib/lv2/quorvane.lv2/quorvane.so usr/lib/lv2/quorvane.lv2/manifest.ttl \
            usr/lib/lv2/quorvane.lv2/quorvane.ttl usr/lib/lv2/quorvane.lv2/presets.ttl; do
  [ -f "$root/$file" ] || fail "the package does not install /$file"
done

doc="$root/usr/share/doc/quorvane-tools"
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in Debian's machine-readable format"
holders=$(sed -n 's/^Copyright (c) //p' "$licence")
grep -qxF "Copyright: $holders" "$doc/copyright" || fail "the copyright file does not name '$holders'"
# The stand-alone Expat paragraph, its one-space indent and " ." lines
# undone, is LICENSE's text from "Permission" on.
awk 'BEGIN { RS = "" } /^License: Expat\n/ { print }' "$doc/copyright" |
  sed '1d; s/^ //; s/^\.$//' >"$work/licence-text"
sed -n '/^Permission/,$p' "$licence" | cmp -s - "$work/licence-text" ||
  fail "the copyright file's Expat text is not LICENSE's"
gzip -t "$doc/changelog.gz" "$root/usr/share/man/man1/quorvane-render.1.gz" || fail "a compressed file is damaged"
newest=$(gzip -dc "$doc/changelog.gz" | head -n 1)
[ "${newest%%;*}" = "quorvane-tools ($version) unstable" ] ||
  fail "the changelog's newest entry is '$newest', not version $version"
# One entry per released version of CHANGES.md, newest first.
changes="$(dirname "$licence")/CHANGES.md"
expected=$(sed -n 's/^## \([0-9][^ ]*\) - [0-9-]*$/\1/p' "$changes" | tr '\n' ' ')
entries=$(gzip -dc "$doc/changelog.gz" | sed -n 's/^quorvane-tools (\([^)]*\)) unstable;.*/\1/p' | tr '\n' ' ')
[ -n "$expected" ] && [ "$entries" = "$expected" ] ||
  fail "the changelog's entries are '$entries', CHANGES.md's released versions '$expected'"
# The deb's manual is the Linux one: the LV2 plug-in and the render tool.
for chapter in in-open-hosts-the-lv2-plug-in hear-and-see-a-setting-quorvane-render the-nine-responses; do
  grep -qF "id=\"$chapter\"" "$doc/Quorvane-manual.html" || fail "the deb's manual has no chapter #$chapter"
done
grep -qF 'id="the-pins"' "$doc/Quorvane-manual.html" && fail "the deb's manual holds the host's pins"
ttl="$root/usr/lib/lv2/quorvane.lv2/quorvane.ttl"
grep -qF 'doap:license <http://opensource.org/licenses/MIT>' "$ttl" || fail "quorvane.ttl names no MIT licence"
grep -q 'doap:maintainer' "$ttl" || fail "quorvane.ttl names no maintainer"

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
