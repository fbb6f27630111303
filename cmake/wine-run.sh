#!/usr/bin/env bash
# Runs a Windows program under wine64 for CTest (the cross build's emulator).
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
# The prefix is made once (wineboot -i, quietly) under the build directory; a
# persistent wineserver keeps each later run from paying its start-up.
set -euo pipefail
prefix=$1
shift
wine=${QUORLINK_WINE:-/usr/lib/wine/wine64}
server=${QUORLINK_WINESERVER:-/usr/lib/wine/wineserver}
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64 DISPLAY=${QUORLINK_WINE_DISPLAY:-}
if [ ! -f "$prefix/.quorlink-ready" ]; then
  mkdir -p "$prefix"
  # Two tests may start at once: one makes the prefix, the other waits.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.quorlink-ready" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    "$server" -w
    touch "$prefix/.quorlink-ready"
  fi
  flock -u 9
  exec 9>&-
fi
# Stays until ten minutes after the last program ends.
"$server" -p600 >/dev/null 2>&1 || true
# --- serial ports -----------------------------------------------------------
# COM port pairs joined by socat over ptys (COM5:COM6 and COM7:COM8 for the
# tests, COM9:COM10 for the demo) and the modem shim preloaded; see
# tests/wine/serial-ports.sh. Without socat the serial tests fail to find a
# cable and say so.
if command -v socat >/dev/null 2>&1; then
  while IFS= read -r setting; do
    export "${setting?}"
  done < <("$(dirname "$0")/../tests/wine/serial-ports.sh" up "$prefix.serial")
fi
# --- end of serial ports ------------------------------------------------------
exec "$wine" "$@"
