#!/bin/busybox sh
# The lab VM's init: the machine's root read-only over 9p, the work folder
# read-write, fresh tmpfs where programs write; runs the command, records its
# status, powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in netfs 9pnet 9pnet_virtio 9p; do insmod /lib/$m.ko || echo "lab init: insmod $m failed"; done
opts=trans=virtio,version=9p2000.L,msize=512000
if ! mount -t 9p -o ro,cache=loose,$opts hostroot /newroot; then
  echo "lab init: the machine's root did not mount"
  poweroff -f
fi
r=/newroot
mount --move /proc $r/proc
mount --move /sys $r/sys
mount --move /dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts -o ptmxmode=0666 devpts $r/dev/pts
mount -t tmpfs tmpfs $r/dev/shm
for d in run tmp var/lib/bluetooth; do mount -t tmpfs -o mode=0755 tmpfs $r/$d; done
chmod 1777 $r/tmp
mkdir -p $r/run/lab
mount -t 9p -o $opts work $r/run/lab
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up
hostname lab
cut -d" " -f1 $r/proc/uptime >$r/run/lab/booted
chroot $r /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp \
  TERM=dumb QUORLINK_LAB=1 QUORLINK_LAB_WORK=/run/lab /bin/sh /run/lab/command </dev/null
echo $? >$r/run/lab/status
sync
echo 1 >$r/proc/sys/kernel/printk
poweroff -f
