#!/usr/bin/env bash
# COM port pairs for programs run under Wine: each pair is two pty slaves that
# pty_cable joins like a null-modem cable, mapped into the prefix as two COM
# ports (dosdevices/comN links). A test opens one port as the library's and
# the other as the device end. Builds the cable and the modem shim that
# Wine's overlapped WaitCommEvent needs on a pty (see pty_modem_shim.c) with
# the host compiler.
#
#   serial-ports.sh up   RUNDIR   prints the environment for wine (KEY=VALUE lines)
#   serial-ports.sh down RUNDIR   stops the pairs
#
# WINEPREFIX must be set. The pairs outlive the call (so that every test of a
# run shares them) and are reused while they are alive. Ports: 5<->6 and
# 7<->8 for the tests (QUORLINK_COM_PAIRS; each test locks the pair it takes),
# 9<->10 for the program's demo (QUORLINK_DEMO_COM_PAIR).
set -euo pipefail

action=${1:?up or down}
run=${2:?run directory}
here=$(cd "$(dirname "$0")" && pwd)
pairs=("5 6" "7 8" "9 10")
mkdir -p "$run"
pidfile=$run/serial-ports.pids

alive() {
  [[ -s $pidfile ]] || return 1
  local pid
  while read -r pid; do kill -0 "$pid" 2>/dev/null || return 1; done <"$pidfile"
}

down() {
  [[ -s $pidfile ]] || return 0
  local pid
  while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$pidfile"
  rm -f "$pidfile"
}

up() {
  : "${WINEPREFIX:?WINEPREFIX must be set}"
  # Tests start in parallel: one makes the pairs, the others wait. The
  # processes started here must not keep the lock (fd 8) open.
  exec 8>"$run/serial-ports.lock"
  flock 8
  local shim=$run/pty_modem_shim.so cable=$run/pty_cable
  if [[ ! -e $shim || $here/pty_modem_shim.c -nt $shim ]]; then
    ${CC:-cc} -shared -fPIC -O2 -o "$shim.tmp" "$here/pty_modem_shim.c" -ldl
    mv -f "$shim.tmp" "$shim"
  fi
  # A newer cable replaces the pairs the old one made.
  if [[ ! -e $cable || $here/pty_cable.c -nt $cable ]]; then
    ${CC:-cc} -O2 -o "$cable.tmp" "$here/pty_cable.c"
    mv -f "$cable.tmp" "$cable"
    down
  fi
  if ! alive || ! [[ -e $run/com5 ]]; then
    down
    local pair a b
    for pair in "${pairs[@]}"; do
      read -r a b <<<"$pair"
      rm -f "$run/com$a" "$run/com$b"
      "$cable" "$run/com$a" "$run/com$b" </dev/null >/dev/null 2>&1 8>&- &
      echo $! >>"$pidfile"
      for _ in $(seq 100); do [[ -e $run/com$a && -e $run/com$b ]] && break; sleep 0.05; done
      [[ -e $run/com$a && -e $run/com$b ]] || { echo "serial-ports: the cable made no ptys" >&2; exit 1; }
    done
  fi
  mkdir -p "$WINEPREFIX/dosdevices"
  local pair n
  for pair in "${pairs[@]}"; do
    for n in $pair; do ln -sfn "$run/com$n" "$WINEPREFIX/dosdevices/com$n"; done
  done
  echo "LD_PRELOAD=$shim${LD_PRELOAD:+ $LD_PRELOAD}"
  echo "QUORLINK_COM_PAIRS=COM5:COM6,COM7:COM8"
  echo "QUORLINK_DEMO_COM_PAIR=COM9:COM10"
}

case $action in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down RUNDIR" >&2; exit 2 ;;
esac
