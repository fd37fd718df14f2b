#!/bin/sh
# release_check_changes_test.sh SOURCE_DIR WORK
#
# scripts/release.sh releases only a commit whose CHANGES.md says what it
# is. Each case below is a throwaway git repository holding release.sh and
# its checker from SOURCE_DIR, a CMakeLists.txt of version 0.2.0 and a
# CHANGES.md; a stand-in scripts/setup.sh (the release's first building
# step) leaves a mark when it runs. A refused case must exit non-zero with
# a message naming the fault, from release.sh itself as well as from
# --check-changes, and never reach set-up; an accepted case must pass
# --check-changes, and release.sh must go on to set-up.
set -eu
source=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "release_check_changes_test: $*" >&2; exit 1; }

released='## 0.2.0 - 2026-12-09

- Changed for users.

## 0.1.0 - 2026-12-08

The first release.
'

# make_repo NAME CHANGES_TEXT: a committed tree like the project's.
make_repo() {
  repo="$work/$1"
  mkdir -p "$repo/scripts"
  cp "$source/scripts/release.sh" "$source/scripts/check_changes.py" "$repo/scripts/"
  printf 'cmake_minimum_required(VERSION 3.22)\nproject(Quorvane VERSION 0.2.0 LANGUAGES C CXX)\n' \
    > "$repo/CMakeLists.txt"
  printf '# Changes\n\n%s' "$2" > "$repo/CHANGES.md"
  printf '#!/bin/sh\ntouch "$(dirname "$0")/../setup-ran"\nexit 3\n' > "$repo/scripts/setup.sh"
  chmod +x "$repo/scripts/setup.sh" "$repo/scripts/release.sh"
  (cd "$repo" && git init -q . && git add . &&
   git -c user.name=test -c user.email=test@example.invalid commit -q -m fixture) ||
    fail "$1: cannot make the fixture repository"
}

# refused NAME EXPECTED_WORDS CHANGES_TEXT
refused() {
  make_repo "$1" "$3"
  for args in --check-changes ""; do
    if (cd "$repo" && scripts/release.sh $args "$work/$1-dist") > "$work/$1.out" 2> "$work/$1.err"; then
      fail "$1: release.sh $args accepted it"
    fi
    grep -q "$2" "$work/$1.err" || fail "$1: release.sh $args said '$(cat "$work/$1.err")', not '$2'"
    [ ! -e "$repo/setup-ran" ] || fail "$1: release.sh $args went on to set-up before refusing"
    [ ! -e "$work/$1-dist" ] || fail "$1: release.sh $args made $work/$1-dist"
  done
}

# accepted NAME CHANGES_TEXT
accepted() {
  make_repo "$1" "$2"
  (cd "$repo" && scripts/release.sh --check-changes) > "$work/$1.out" 2> "$work/$1.err" ||
    fail "$1: --check-changes refused it: $(cat "$work/$1.err")"
  grep -q "ready for 0.2.0" "$work/$1.out" || fail "$1: --check-changes said '$(cat "$work/$1.out")'"
  [ ! -e "$repo/setup-ran" ] || fail "$1: --check-changes went on to set-up"
  # Without the flag the release goes on to its first building step.
  (cd "$repo" && scripts/release.sh "$work/$1-dist") > /dev/null 2>&1 || true
  [ -e "$repo/setup-ran" ] || fail "$1: release.sh did not go on to set-up"
}

refused unreleased-entries "under 'Unreleased'" "## Unreleased

- A change not yet in a release.

$released"
refused no-section-for-version "no section '## 0.2.0" "## 0.1.0 - 2026-12-08

The first release.
"
refused undated-section "0.2.0 has no date" "## 0.2.0

- Changed for users.
"
refused newer-section-above "newest section is 0.3.0" "## 0.3.0 - 2027-01-10

- Later.

$released"
refused unreadable-heading "cannot read the heading" "## Version 0.2.0 (December)

$released"
accepted without-unreleased "$released"
accepted empty-unreleased "## Unreleased

$released"

# Whatever is committed, not what lies uncommitted in the work tree.
make_repo committed-tree "## 0.1.0 - 2026-12-08

The first release.
"
printf '# Changes\n\n%s' "$released" > "$repo/CHANGES.md"
if (cd "$repo" && scripts/release.sh --check-changes) > /dev/null 2>&1; then
  fail "committed-tree: --check-changes judged the uncommitted CHANGES.md"
fi
echo "release.sh: refused 5 kinds of CHANGES.md before building, accepted 2"
rm -rf "$work"
