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
exec "$wine" "$@"
