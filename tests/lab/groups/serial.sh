#!/bin/sh
# Lab group "serial": a USB CDC-ACM gadget on the dummy host controller, so
# the real cdc_acm driver gives /dev/ttyACM0 (the library's port) and the
# gadget's /dev/ttyGS0 plays the device. Then the LabSerial* cases.
#   serial.sh LAB_TESTS [GTEST ARG]...
set -eu
tests=$1
shift
modprobe -a configfs dummy_hcd libcomposite usb_f_acm cdc_acm
mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config
g=/sys/kernel/config/usb_gadget/lab
mkdir -p $g/strings/0x409 $g/configs/c.1 $g/functions/acm.usb0
echo 0x1d6b >$g/idVendor
echo 0x0104 >$g/idProduct
echo "Quorlink" >$g/strings/0x409/manufacturer
echo "Lab CDC-ACM" >$g/strings/0x409/product
echo "LAB0001" >$g/strings/0x409/serialnumber
ln -s $g/functions/acm.usb0 $g/configs/c.1/
echo dummy_udc.0 >$g/UDC
i=0
until [ -c /dev/ttyACM0 ] && [ -c /dev/ttyGS0 ]; do
  i=$((i + 1))
  [ $i -lt 100 ] || { echo "lab serial: /dev/ttyACM0 did not appear"; exit 1; }
  sleep 0.1
done
export QUORLINK_LAB_PORT=/dev/ttyACM0 QUORLINK_LAB_DEVICE=/dev/ttyGS0 QUORLINK_LAB_GADGET=$g
exec "$tests" --gtest_filter='LabSerial*' "$@"
