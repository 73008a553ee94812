#!/bin/busybox sh
# The guest's init: loads the disk drivers, waits for the disks the host attached, prints them
# with their serial numbers, runs the case's script (/case.sh) and powers off. Every command
# of the script runs through 'run', which frames its output (both streams) with markers that
# the host-side harness parses from the serial console, with its exit status and the guest's
# clock (seconds since boot) when it started and ended.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
chmod 1777 /tmp
# Two users: an ordinary one, and one in the disk group, who may read disks but not command them.
mkdir -p /etc
printf 'root:x:0:0::/:/bin/sh\nquser:x:1000:1000::/tmp:/bin/sh\nqdisk:x:1001:1001::/tmp:/bin/sh\n' \
  > /etc/passwd
printf 'root:x:0:\ndisk:x:6:qdisk\n' > /etc/group

expected_disks() {
  for word in $(cat /proc/cmdline); do
    case $word in quillmar.disks=*) echo "${word#quillmar.disks=}" ;; esac
  done
}

present_disks() {
  ls -d /sys/block/sd* /sys/block/sr* 2>/dev/null | wc -l
}

# The serial number the host gave a disk: the SCSI unit serial page, else the nearest serial
# file above the device (a USB device's).
serial_of() {
  dir=$(readlink -f "/sys/block/$1/device")
  if [ -r "$dir/vpd_pg80" ]; then
    tr -cd 'A-Za-z0-9_-' < "$dir/vpd_pg80"
    return
  fi
  while [ "$dir" != /sys/devices ] && [ -n "$dir" ]; do
    if [ -r "$dir/serial" ]; then cat "$dir/serial"; return; fi
    dir=${dir%/*}
  done
}

# The /dev path of the disk with the given serial.
disk() {
  for block in /sys/block/sd* /sys/block/sr*; do
    name=${block##*/}
    [ "$(serial_of "$name")" = "$1" ] && { echo "/dev/$name"; return; }
  done
  echo /dev/missing-$1
}

# Seconds since boot with hundredths, for timing a command.
now() { cut -d' ' -f1 /proc/uptime; }

run() {
  name=$1
  shift
  echo "@@@ begin $name"
  started=$(now)
  "$@" </dev/null 2>&1
  status=$?
  echo "@@@ end $name $status $started $(now)"
}

modprobe -a $(cat /modules.load)
want=$(expected_disks)
tries=0
while [ "$(present_disks)" -lt "${want:-0}" ] && [ $tries -lt 300 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
chgrp disk /dev/sd* /dev/sr* 2>/dev/null
chmod 660 /dev/sd* /dev/sr* 2>/dev/null
for block in /sys/block/sd* /sys/block/sr*; do
  [ -e "$block" ] && echo "@@@ disk /dev/${block##*/} $(serial_of "${block##*/}")"
done
cd /tmp
. /case.sh
echo "@@@ done"
sync
poweroff -f
