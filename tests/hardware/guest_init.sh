#!/bin/busybox sh
# The guest's init: loads the drivers, prints each disk after its serial, links it as
# /dev/by-serial/SERIAL, runs /case.sh (with run below) and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs -o mode=1777 tmp /tmp
mkdir -p /etc /mnt /dev/by-serial
# An ordinary user, and one in the disk group (reads disks, cannot command them).
printf 'root:x:0:0::/:/bin/sh\nquser:x:1000:1000::/tmp:/bin/sh\nqdisk:x:1001:1001::/tmp:/bin/sh\n' \
  > /etc/passwd
printf 'root:x:0:\ndisk:x:6:qdisk\n' > /etc/group

serial_of() {  # the SCSI unit serial page, else the nearest serial file above (USB's)
  dir=$(readlink -f "/sys/block/$1/device")
  [ -r "$dir/vpd_pg80" ] && { tr -cd 'A-Za-z0-9_-' < "$dir/vpd_pg80"; return; }
  while [ -n "$dir" ] && [ "$dir" != /sys/devices ]; do
    [ -r "$dir/serial" ] && { cat "$dir/serial"; return; }
    dir=${dir%/*}
  done
}
run() {  # NAME COMMAND...: its output, exit status and seconds (guest's clock), after "NAME| "
  name=$1 started=$(cut -d' ' -f1 /proc/uptime)
  shift
  { "$@" </dev/null 2>&1; echo "@@@ exit $? $(awk "{print \$1 - $started}" /proc/uptime)"; } |
    sed "s/^/$name| /"
}

modprobe -a $(cat /modules.load)
want=$(sed -n 's/.*quillmar\.disks=\([0-9]*\).*/\1/p' /proc/cmdline)
for tries in $(seq 300); do
  [ "$(ls -d /sys/block/sd* 2>/dev/null | wc -l)" -ge "${want:-0}" ] && break
  sleep 0.1
done
for block in /sys/block/sd*; do
  serial=$(serial_of "${block##*/}")
  echo "$serial| /dev/${block##*/}"
  ln -s "/dev/${block##*/}" "/dev/by-serial/$serial"
  chgrp disk "/dev/${block##*/}"
  chmod 660 "/dev/${block##*/}"
done
cd /tmp
. /case.sh
echo "@@@ done"
sync
poweroff -f
