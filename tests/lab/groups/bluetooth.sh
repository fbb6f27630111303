#!/bin/sh
# Lab group "bluetooth": the real bluetoothd and kernel RFCOMM between btvirt's
# two emulated controllers, hci0 00:AA:01:00:00:00 and hci1 00:AA:01:01:00:01,
# which page each other. Then the LabBluetooth* cases.
#   bluetooth.sh LAB_TESTS [GTEST ARG]...
# Deadline: 240
set -eu
tests=$1
shift
fail() {
  echo "lab bluetooth: $*"
  exit 1
}
for tool in btvirt btmgmt sdptool dbus-daemon dbus-send; do
  command -v $tool >/dev/null || {
    echo "SKIP: lab bluetooth: no $tool (apt-get install bluez bluez-test-tools dbus-daemon)"
    exit 77
  }
done
# btvirt's controllers need AF_ALG ecb(aes) and cmac(aes).
modprobe -a hci_vhci rfcomm af_alg algif_hash algif_skcipher cmac ecb
mkdir -p /run/dbus
dbus-daemon --system --fork
btvirt -l2 >/run/lab/btvirt.log 2>&1 &
i=0
until [ -e /sys/class/bluetooth/hci0 ] && [ -e /sys/class/bluetooth/hci1 ]; do
  i=$((i + 1))
  [ $i -lt 100 ] || fail "btvirt's controllers did not appear: $(cat /run/lab/btvirt.log)"
  sleep 0.1
done
for n in 0 1; do
  for setting in "bondable on" "io-cap 3"; do
    btmgmt --index $n $setting </dev/null >/dev/null || fail "btmgmt --index $n $setting"
  done
done
start=$(dirname "$0")/../bluetooth/start-bluetoothd.sh
sh "$start"
export QUORLINK_LAB_RADIO=00:AA:01:00:00:00 QUORLINK_LAB_PEER=00:AA:01:01:00:01
export QUORLINK_LAB_START_BLUETOOTHD="sh $start"
# LabBluetoothFirst cases need radios that have not linked yet, and the
# LabBluetoothLast ones change the daemon or the radios for good.
status=0
"$tests" --gtest_filter='LabBluetoothFirst.*' "$@" || status=1
"$tests" --gtest_filter='LabBluetooth*:-LabBluetoothFirst.*:LabBluetoothLast.*' "$@" || status=1
"$tests" --gtest_filter='LabBluetoothLast.*' "$@" || status=1
exit $status
