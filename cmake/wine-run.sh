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
"$server" -p600 </dev/null >/dev/null 2>&1 || true
# --- serial ports -----------------------------------------------------------
# COM port pairs joined over ptys (COM5:COM6 and COM7:COM8 for the tests,
# COM9:COM10 for the demo) and the modem shim preloaded; see
# tests/wine/serial-ports.sh. Without a host C compiler the serial tests fail
# to find a cable and say so.
if command -v "${CC:-cc}" >/dev/null 2>&1; then
  while IFS= read -r setting; do
    export "${setting?}"
  done < <("$(dirname "$0")/../tests/wine/serial-ports.sh" up "$prefix.serial")
fi
# --- end of serial ports ------------------------------------------------------
# Wine's helper processes (services.exe, explorer.exe ...) that the first
# program of a session starts inherit its output and live as long as the
# server: a pipe given to wine would stay open for ten minutes and keep CTest
# waiting. So the program writes to files, streamed out until it ends.
out=$(mktemp -d "${TMPDIR:-/tmp}/quorlink-wine.XXXXXX")
trap 'rm -rf "$out"' EXIT
: >"$out/1"
: >"$out/2"
"$wine" "$@" >"$out/1" 2>"$out/2" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$out"' EXIT INT TERM
tail -s 0.1 -n +1 -f --pid="$pid" "$out/1" &
t1=$!
tail -s 0.1 -n +1 -f --pid="$pid" "$out/2" >&2 &
t2=$!
rc=0
wait "$pid" || rc=$?
wait "$t1" "$t2" || true
exit "$rc"
