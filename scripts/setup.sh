#!/usr/bin/env bash
# Installs what building and testing Quorvane needs on Debian 12, and nothing
# that is already there. Needs root (or sudo) only when something is missing.
set -euo pipefail

# The shipped DLL's programs run under wine where the kernel runs 32-bit
# programs, and under wine's 32-bit loader in qemu-i386-static where it does
# not (with wine64's 64-bit server and a preload built by g++-i686-linux-gnu).
packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386
          wine64 qemu-user-static g++-i686-linux-gnu
          libsndfile1-dev libcli11-dev python3 python3-numpy python3-matplotlib pandoc lintian
          lv2-dev lilv-utils liblilv-dev sordi
          lsp-plugins-lv2 x42-plugins calf-plugins zam-plugins sox)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "setup: installing ${missing[*]}" >&2
# wine32 is a 32-bit package: the i386 architecture must be known first.
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
