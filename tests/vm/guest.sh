#!/bin/bash
# PID 1 of the test VM, on the host's root filesystem (read-only, with a
# tmpfs overlay). Loads the USB modules, runs each case listed in
# $GPS_VM_OUT/cases with its own time limit, and powers off. The host
# checks the results afterwards; nothing here decides whether a case passed.
set -u

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
# The guest's /tmp, /run and /dev/shm are its own, empty (the host's Wine
# server sockets and locks must not be seen here). A checkout under /tmp (a
# CI's clean clone may be one) and the results' share inside it are bound
# back at their places from the host's /tmp as the overlay shows it.
checkout=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p /mnt/host-tmp
mount --rbind /tmp /mnt/host-tmp
for d in /dev/shm /tmp /run; do mount -t tmpfs -o mode=1777 tmpfs "$d"; done
for place in "$checkout" "$GPS_VM_OUT"; do
  case $place in
    /tmp/*)
      [ -e "$place" ] && continue  # inside a place already bound
      mkdir -p "$place"
      mount --rbind "/mnt/host-tmp/${place#/tmp/}" "$place"
      ;;
  esac
done
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root

# PID 1 must never end: whatever happens, the VM powers off. The kernel's
# log goes to the results for the host to read.
power_off() {
  dmesg > "$GPS_VM_OUT/dmesg.log" 2>/dev/null
  sync
  echo o > /proc/sysrq-trigger
  sleep 30
}
trap power_off EXIT

say() { note "$*" > /dev/console; }

set -a
source "$GPS_VM_OUT/env"
set +a
source "$GPS_SOURCE/tests/vm/prepare.sh"  # case_budget
source "$GPS_SOURCE/tests/vm/lib/guest.sh"

say "userspace"
mkdir -p /lib/modules
mount --bind "$GPS_KERNEL_MODULES" /lib/modules
# Two buses, for the cases with two devices. Full speed, as the device is:
# 64-byte interrupt packets, one frame a millisecond. hid-generic gives the
# hidraw node (the kernel would load it on demand through udev, which does
# not run here).
modprobe dummy_hcd num=2 is_high_speed=0 && modprobe libcomposite && modprobe usb_f_hid &&
  modprobe usbhid && modprobe hid-generic || { say "modprobe failed"; exit 1; }
mount -t configfs configfs /sys/kernel/config
say "modules loaded"

while read -r file; do
  name=$(basename "$file" .sh)
  dir=$GPS_VM_OUT/$name
  budget=$(case_budget "$file")
  mkdir -p "$dir"
  say "case $name (at most ${budget} s)"
  start=$(now_ms)
  # Its own session, so that what it leaves running can be ended with it.
  (cd "$dir" && exec setsid timeout -k 5 "$budget" bash -c \
     'source "$1" && source "$2" && set -e && guest' case \
     "$GPS_SOURCE/tests/vm/lib/guest.sh" "$file" > guest.log 2>&1 < /dev/null)
  status=$?
  ms=$(( $(now_ms) - start ))
  echo "$ms" > "$dir/guest.ms"
  echo "$status" > "$dir/guest.status"
  say "case $name: status $status in $ms ms"
  case_cleanup
done < "$GPS_VM_OUT/cases"
say "all cases ran"
