#!/usr/bin/env bash
# The device lab: boots a Debian 6.12 kernel in QEMU (TCG, no network) on a
# small busybox initramfs, with this machine's root read-only over 9p and a
# read-write work folder, runs one command inside and returns its output and
# exit status. Exit 77 (CTest's skip code) when the lab cannot boot here, or
# when the command exits 77 (a group whose tools are missing).
#
#   vm.sh --build DIR [--deadline SECONDS] [--] COMMAND [ARG]...
#
# Inside, the command runs as root in the machine's own file tree (the build
# tree and the sources at their paths, read-only), in the caller's working
# directory, with QUORLINK_LAB=1 and QUORLINK_LAB_WORK (the read-write folder;
# /tmp, /run and /var/lib/bluetooth are fresh tmpfs). QUORLINK_LAB_CPUS and
# QUORLINK_LAB_QEMU_ARGS change the machine (e.g. "-icount shift=2": the
# guest's clock then runs with its instructions, not the host's).
set -euo pipefail

# QUORLINK_LAB_REQUIRED (CI): what cannot boot fails instead.
skip() {
  echo "SKIP: device lab: $*"
  [ -z "${QUORLINK_LAB_REQUIRED:-}" ] || exit 1
  exit 77
}

build= deadline=300
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --deadline) deadline=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ -n "$build" ] && [ $# -gt 0 ] || { echo "usage: $0 --build DIR [--deadline S] [--] COMMAND..." >&2; exit 2; }
build=$(cd "$build" && pwd)

# The newest 6.12 kernel (6.1 crashes when an RFCOMM connect between emulated
# controllers fails), or the one named.
kernel=${QUORLINK_LAB_KERNEL:-$(ls -1 /boot/vmlinuz-6.12.* 2>/dev/null | sort -V | tail -n1 || true)}
[ -n "$kernel" ] && [ -r "$kernel" ] || skip "no readable /boot/vmlinuz-6.12.* (apt-get install linux-image-6.12.*+deb12-amd64)"
kver=${kernel##*/vmlinuz-}
modules=/lib/modules/$kver
[ -d "$modules" ] || skip "no $modules for $kernel"
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (apt-get install qemu-system-x86)"
busybox=/bin/busybox
[ -x "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 || skip "no static busybox (apt-get install busybox-static)"

here=$(cd "$(dirname "$0")" && pwd)
lab=$build/lab
mkdir -p "$lab"

# The initramfs: busybox, the 9p modules of this kernel (decompressed: busybox
# insmod takes plain objects) and init. Cached per kernel and init text.
initramfs=$lab/initramfs-$kver-$(cat "$here/init.sh" | md5sum | cut -c1-8).cpio
if [ ! -s "$initramfs" ]; then
  stage=$(mktemp -d "$lab/initramfs.XXXXXX")
  trap 'rm -rf "$stage"' EXIT
  mkdir -p "$stage"/{bin,dev,proc,sys,newroot,lib}
  cp "$busybox" "$stage/bin/busybox"
  for m in fs/netfs/netfs net/9p/9pnet net/9p/9pnet_virtio fs/9p/9p; do
    src=$(ls "$modules/kernel/$m".ko* 2>/dev/null | head -n1)
    [ -n "$src" ] || skip "no module $m in $modules"
    case $src in
      *.xz) "$stage/bin/busybox" unxz -c "$src" >"$stage/lib/${m##*/}.ko" ;;
      *.zst) zstd -qdc "$src" >"$stage/lib/${m##*/}.ko" ;;
      *) cp "$src" "$stage/lib/${m##*/}.ko" ;;
    esac
  done
  cp "$here/init.sh" "$stage/init"
  chmod +x "$stage/init"
  (cd "$stage" && find . | "$stage/bin/busybox" cpio -o -H newc >"$initramfs.tmp" 2>/dev/null)
  rm -f "$lab"/initramfs-*.cpio
  mv "$initramfs.tmp" "$initramfs"
  rm -rf "$stage"
  trap - EXIT
fi

# The work folder: the command in, the status out.
work=$(mktemp -d "$lab/run.XXXXXX")
if [ -n "${QUORLINK_LAB_KEEP:-}" ]; then
  echo "device lab: the work folder (logs of the group's daemons) stays in $work"
else
  trap 'rm -rf "$work"' EXIT
fi
{
  echo "cd $(printf '%q' "$PWD")"
  printf '%q ' "$@"
  echo
} >"$work/command"

# The console is the command's output; a deadline ends the VM whatever it does.
start=$(date +%s)
set +e
timeout -k 5 "$deadline" qemu-system-x86_64 -accel tcg -cpu max -m 1024 -smp "${QUORLINK_LAB_CPUS:-1}" ${QUORLINK_LAB_QEMU_ARGS:-} \
  -nodefaults -no-user-config -display none -no-reboot -nic none \
  -chardev stdio,id=console,signal=off -serial chardev:console \
  -kernel "$kernel" -initrd "$initramfs" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
  -virtfs local,path=/,mount_tag=hostroot,readonly=on,multidevs=remap,security_model=none \
  -virtfs local,path="$work",mount_tag=work,security_model=none </dev/null
qemu=$?
set -e
if [ ! -s "$work/status" ]; then
  if [ $qemu -eq 124 ] || [ $qemu -eq 137 ]; then
    echo "device lab: the VM was killed at its deadline of $deadline s" >&2
  else
    echo "device lab: the VM ended (QEMU status $qemu) before the command did" >&2
  fi
  exit 1
fi
status=$(cat "$work/status")
if [ "$status" = 77 ] && [ -n "${QUORLINK_LAB_REQUIRED:-}" ]; then
  echo "device lab: the group skipped, and QUORLINK_LAB_REQUIRED is set" >&2
  exit 1
fi
echo "device lab: command ended with status $status after $(($(date +%s) - start)) s (boot $(cat "$work/booted" 2>/dev/null || echo ?) s)"
exit "$status"
