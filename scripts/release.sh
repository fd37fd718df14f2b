#!/usr/bin/env bash
# Makes a release of the committed tree into dist/ (or the folder given as $1):
#   Quorvane-<version>-win32.zip        the DLL for the host, the manual, CHANGES.md
#   quorvane-tools_<version>_<arch>.deb quorvane-render with the native module
#   SHA256SUMS                          checksums of both
# It builds HEAD from a fresh export in a new scratch folder, never the work
# tree's build folders, dated by the last commit (SOURCE_DATE_EPOCH): any
# clone of the same commit, anywhere and at any time, gives the same bytes,
# which is how a release is checked (README: "Verifying a release").
# Before building anything it refuses (exit 1) a commit whose CHANGES.md
# still lists changes under "Unreleased" or has no dated section for the
# version in CMakeLists.txt (scripts/check_changes.py);
#   scripts/release.sh --check-changes
# makes only that check, on the committed tree, and builds nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

check_only=false
if [ "${1:-}" = --check-changes ]; then
  check_only=true
  shift
fi
out="${1:-dist}"
git rev-parse --verify -q HEAD >/dev/null || { echo "release: not a git checkout with a commit" >&2; exit 1; }
commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: uncommitted changes are left out; this releases commit $commit as committed" >&2
fi
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git archive --format=tar HEAD | tar -x -C "$work/src"
src="$work/src"

# What is released says what it is: its change log knows its version.
python3 scripts/check_changes.py "$src"
$check_only && exit 0
scripts/setup.sh release

echo "== the Windows zip (commit $commit)"
cmake -S "$src" -B "$src/build/win32" --toolchain "$src/cmake/i686-w64-mingw32.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DQUORVANE_TESTS=OFF >/dev/null
cmake --build "$src/build/win32" --target quorvane_win32_zip -j2
# The shipped DLL still exports exactly its two functions and imports only
# the functions listed in tests/target/expected_imports.txt.
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL="$src/build/win32/Quorvane.dll" \
      -DEXPECTED_IMPORTS="$src/tests/target/expected_imports.txt" \
      -P "$src/tests/target/check_dll_tables.cmake"

echo "== the tools' deb"
cmake -S "$src" -B "$src/build/tools" -DCMAKE_BUILD_TYPE=Release \
      -DQUORVANE_TESTS=OFF -DQUORVANE_TOOLS=ON >/dev/null
cmake --build "$src/build/tools" -j2
(cd "$src/build/tools" && cpack -G DEB -B "$work/deb" >/dev/null)

zip=("$src"/build/win32/Quorvane-*-win32.zip)
deb=("$work"/deb/quorvane-tools_*.deb)
for f in "${zip[@]}" "${deb[@]}"; do
  [ -f "$f" ] || { echo "release: $f was not made" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out/SHA256SUMS"
cp "${zip[0]}" "${deb[0]}" "$out/"
(cd "$out" && sha256sum "$(basename "${zip[0]}")" "$(basename "${deb[0]}")" > SHA256SUMS.partial &&
 mv SHA256SUMS.partial SHA256SUMS && cat SHA256SUMS)
echo "release: $out/ holds the packages of commit $commit; check them with: (cd $out && sha256sum -c SHA256SUMS)"
