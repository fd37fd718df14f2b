#!/bin/sh
# Runs a 32-bit Windows test program under wine, with a wine prefix kept in the
# build folder (created on first use) and wine's own chatter off.
: "${WINEPREFIX:=$PWD/wineprefix}"
case "$WINEPREFIX" in /*) ;; *) WINEPREFIX=$PWD/$WINEPREFIX ;; esac
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
