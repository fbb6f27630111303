#!/usr/bin/env bash
# Runs the built examples: the Bluetooth server and client on virtual radios,
# the two event-loop examples, and the serial echo on a pseudo-terminal.
set -euo pipefail
bin=$1
dir=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$dir"' EXIT

"$bin/example_bt_server" "$dir" >"$dir/server.out" &
server=$!
for _ in $(seq 100); do
  if grep -q listening "$dir/server.out"; then break; fi
  sleep 0.1
done
timeout 20 "$bin/example_bt_client" "$dir"
timeout 20 tail --pid="$server" -f /dev/null
wait "$server"
server=
cat "$dir/server.out"

for loop in glib_loop asio_loop; do
  if [ -x "$bin/example_$loop" ]; then timeout 20 "$bin/example_$loop" "$dir"; fi
done

# The echo on the far end of a pty: what goes in comes back.
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
