#!/usr/bin/env bash
# Runs the built examples: the Bluetooth server and client on virtual radios,
# the port watch, the two event-loop examples, and the serial echo on a pseudo-terminal (those
# that were built).
#   run_examples.sh BIN_DIR [EXE_SUFFIX [EMULATOR...]]
# A cross build passes its programs' suffix and its emulator (Wine), whose
# programs see this machine's root as drive Z:.
set -euo pipefail
bin=$1
exe=${2:-}
shift $(($# > 1 ? 2 : 1))
run=("$@")
dir=$(mktemp -d)
meet=$dir
[ ${#run[@]} -gt 0 ] && meet=Z:$dir
limit=$((${#run[@]} > 0 ? 60 : 20))
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$dir"' EXIT

"${run[@]}" "$bin/example_bt_server$exe" "$meet" >"$dir/server.out" &
server=$!
for _ in $(seq $((limit * 10))); do
  if grep -q listening "$dir/server.out"; then break; fi
  sleep 0.1
done
timeout "$limit" "${run[@]}" "$bin/example_bt_client$exe" "$meet"
timeout "$limit" tail --pid="$server" -f /dev/null
wait "$server"
server=
cat "$dir/server.out"

# The ports present and a second of watching: it must start and end cleanly.
timeout "$limit" "${run[@]}" "$bin/example_port_watch$exe" 1 >"$dir/ports.out"
grep -q '^watching' "$dir/ports.out"
cat "$dir/ports.out"

for loop in glib_loop asio_loop; do
  if [ -x "$bin/example_$loop" ]; then timeout 20 "$bin/example_$loop" "$dir"; fi
done

# The echo on the far end of a pty: what goes in comes back.
[ -x "$bin/example_serial_echo" ] || exit 0
timeout 20 python3 - "$bin/example_serial_echo" <<'PY'
import os, pty, subprocess, sys, time, tty
master, slave = pty.openpty()
tty.setraw(master)
echo = subprocess.Popen([sys.argv[1], os.ttyname(slave)], stdout=subprocess.PIPE)
assert echo.stdout.readline().startswith(b"echoing on")
os.write(master, b"hello\n")
got = b""
while len(got) < 6:
    got += os.read(master, 64)
echo.terminate()
echo.wait()
print("serial echo answered:", got)
sys.exit(0 if got == b"hello\n" else 1)
PY
