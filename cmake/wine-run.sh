#!/bin/sh
# Runs a 32-bit Windows test program under wine, with a wine prefix kept in the
# build folder (created on first use) and wine's own chatter off.
#
# Some kernels are built or booted without 32-bit emulation, and there wine's
# own 32-bit loader cannot start at all. The program is then not run: this
# exits with 77, which CTest counts as a skipped test, and says why.
: "${WINEPREFIX:=$PWD/wineprefix}"
case "$WINEPREFIX" in /*) ;; *) WINEPREFIX=$PWD/$WINEPREFIX ;; esac
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if ! wine --version >/dev/null 2>&1; then
  echo "wine cannot start here: this kernel runs no 32-bit programs (ia32 emulation off?); $1 not run" >&2
  exit 77
fi
exec wine "$@"
