#!/usr/bin/env bash
# scripts/setup.sh [main|release|test]
#
# Installs what Quorvane's builds need on Debian 12, and nothing that is
# already there. Needs root (or sudo) only when something is missing.
#
#   main     the main job (scripts/demo.sh): the DLL's MinGW toolchain, the
#            native build, libsndfile, CLI11, python3 with numpy and matplotlib
#   release  main, and pandoc for the manual in the packages
#   test     release, and what the tests add (the default): GoogleTest and
#            Google Benchmark, clang for the fuzz targets, wine with its i386
#            libraries and qemu-user-static for the DLL, lintian, the LV2
#            headers, hosts and peers, sox
#
# A package mirror can be caught mid-sync, with one index (often the i386 list
# of the security updates) failing to download for hours. Set-up then goes on
# without it, saying so in one line; and where the i386 packages can no
# longer be matched with their amd64 twins from the updates, it installs the
# release's own versions (apt-get install -t <release>), saying so. It ends
# with an error naming every package that is still missing: never with a
# half-installed machine that looks set up.
#
# QUORVANE_SETUP_TRIES (3) and QUORVANE_SETUP_RETRY_SECONDS (20) set how
# often and how far apart a failing index is fetched again.
set -euo pipefail

main_packages=(cmake g++ make g++-mingw-w64-i686-posix binutils-mingw-w64-i686
               libsndfile1-dev libcli11-dev python3 python3-numpy python3-matplotlib)
release_packages=(pandoc)
# The shipped DLL's programs run under wine where the kernel runs 32-bit
# programs, and under wine's 32-bit loader in qemu-i386-static where it does
# not (with wine64's 64-bit server and a preload built by g++-i686-linux-gnu).
test_packages=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
               wine wine32:i386 wine64 qemu-user-static g++-i686-linux-gnu lintian
               lv2-dev lilv-utils liblilv-dev sordi
               lsp-plugins-lv2 x42-plugins calf-plugins zam-plugins sox)

set_name=${1:-test}
case $set_name in
  main) wanted=("${main_packages[@]}") ;;
  release) wanted=("${main_packages[@]}" "${release_packages[@]}") ;;
  test) wanted=("${main_packages[@]}" "${release_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [main|release|test]" >&2; exit 2 ;;
esac
tries=${QUORVANE_SETUP_TRIES:-3}
retry_seconds=${QUORVANE_SETUP_RETRY_SECONDS:-20}

say() { echo "setup: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

mapfile -t missing < <(missing_of "${wanted[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
log=$(mktemp "${TMPDIR:-/tmp}/quorvane-setup.XXXXXX")
say "installing for '$set_name': ${missing[*]} (apt's output: $log)"

# wine32 is a 32-bit package: the i386 architecture must be known first.
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    break
  fi
done

# apt-get update exits non-zero when any one index fails, though it keeps
# every index that did download: a broken one is fetched again a few times,
# then left out with a warning.
update_ok=0
for ((try = 1; try <= tries; try++)); do
  if $SUDO apt-get update >>"$log" 2>&1; then update_ok=1; break; fi
  if [ "$try" -lt "$tries" ]; then sleep "$retry_seconds"; fi
done
if [ $update_ok -eq 0 ]; then
  broken=$(grep -o 'Failed to fetch [^ ]*' "$log" | sed 's/Failed to fetch //; s#^[a-z]*://[^/]*##' | sort -u | paste -sd' ' -)
  say "warning: package index ${broken:-(see $log)} failed to download $tries times (mirror sync in progress?); going on without it"
fi

export DEBIAN_FRONTEND=noninteractive
# The versions an i386 package's amd64 twins must come down to: where the
# amd64 twin is installed in a version (from the updates) newer than any i386
# one offered, apt names the i386 package "not installable". Each such twin,
# with the packages built beside it at the same version, comes down to the
# version the i386 one has.
twins_to_match() {
  local name installed offered sibling source version
  grep -o 'Depends: [^ ]*:i386' "$1" | sed 's/Depends: //; s/:i386$//' | sort -u |
  while read -r name; do
    installed=$(dpkg-query -W -f='${Version}' "$name:amd64" 2>/dev/null || true)
    offered=$(apt-cache policy "$name:i386" 2>/dev/null | awk '/Candidate:/ {print $2}')
    [ -n "$installed" ] && [ -n "$offered" ] && [ "$offered" != "(none)" ] || continue
    dpkg --compare-versions "$installed" gt "$offered" || continue
    source=$(dpkg-query -W -f='${source:Package}' "$name:amd64")
    dpkg-query -W -f='${Package} ${source:Package} ${Version}\n' | while read -r sibling s version; do
      [ "$s" = "$source" ] && [ "$version" = "$installed" ] && echo "$sibling=$offered"
    done
  done | sort -u
}

release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
release=${release:-bookworm}
if ! $SUDO apt-get install -y "${missing[@]}" >>"$log" 2>&1; then
  # Without the updates' i386 list, an i386 library can only be had in the
  # release's version while its amd64 twin is offered in the updates' newer
  # one, and multiarch needs the two equal: apt gives up ("held broken
  # packages"). Taking the release's versions throughout resolves it, but
  # for twins already installed from the updates, which come down to the
  # release's version (apt is shown each one, and they are named here).
  say "the packages could not be resolved against the updates; installing the release's own versions instead (apt-get install -t $release)"
  matched=()
  for round in 1 2 3 4; do
    attempt=$(mktemp "${TMPDIR:-/tmp}/quorvane-setup-attempt.XXXXXX")
    if $SUDO apt-get install -s -t "$release" --allow-downgrades "${missing[@]}" "${matched[@]}" >"$attempt" 2>&1; then
      rm -f "$attempt"; break
    fi
    cat "$attempt" >>"$log"
    mapfile -t more < <(twins_to_match "$attempt")
    rm -f "$attempt"
    new_ones=()
    for m in "${more[@]}"; do [[ " ${matched[*]} " == *" $m "* ]] || new_ones+=("$m"); done
    [ ${#new_ones[@]} -gt 0 ] || break
    matched+=("${new_ones[@]}")
  done
  if [ ${#matched[@]} -gt 0 ]; then
    say "warning: to match their i386 twins, these installed packages come down from the updates' version to the release's: ${matched[*]}"
  fi
  $SUDO apt-get install -y -t "$release" --allow-downgrades "${missing[@]}" "${matched[@]}" >>"$log" 2>&1 || true
fi

mapfile -t still < <(missing_of "${missing[@]}")
if [ ${#still[@]} -gt 0 ]; then
  tail -n 15 "$log" >&2
  say "failed: not installed: ${still[*]} (apt's output: $log)"
  exit 1
fi
say "installed ${#missing[@]} packages for '$set_name'"
rm -f "$log"
