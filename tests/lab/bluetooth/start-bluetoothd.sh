#!/bin/sh
# Starts bluetoothd for the lab and waits until it serves both controllers,
# powered and connectable. bluetoothd turns page scan off while it sets an
# adapter up (it pages only known devices then); discoverable without a
# timeout, asked of bluetoothd itself, keeps both connectable for good.
set -eu
bluetoothd=/usr/libexec/bluetooth/bluetoothd
[ -x $bluetoothd ] || bluetoothd=$(command -v bluetoothd)
# --compat: the SDP socket through which sdptool adds records of its own.
$bluetoothd -n --compat ${QUORLINK_LAB_BLUETOOTHD_ARGS:-} >>/run/lab/bluetoothd.log 2>&1 &
set_property() {
  dbus-send --system --print-reply --reply-timeout=3000 --dest=org.bluez /org/bluez/$1 org.freedesktop.DBus.Properties.Set \
    string:org.bluez.Adapter1 string:$2 variant:$3 >/dev/null 2>&1
}
i=0
for hci in hci0 hci1; do
  until set_property $hci DiscoverableTimeout uint32:0 && set_property $hci Powered boolean:true &&
    set_property $hci Discoverable boolean:true &&
    dbus-send --system --print-reply --reply-timeout=3000 --dest=org.bluez /org/bluez/$hci \
      org.freedesktop.DBus.Properties.Get string:org.bluez.Adapter1 string:Discoverable 2>/dev/null |
    grep -q 'boolean true'; do
    i=$((i + 1))
    [ $i -lt 100 ] || { echo "lab: bluetoothd did not serve $hci: $(tail -n 20 /run/lab/bluetoothd.log)"; exit 1; }
    sleep 0.1
  done
done
