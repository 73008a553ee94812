#!/usr/bin/env bash
# The emulated-hardware tier's guest: a Debian kernel, the disk drivers' modules and busybox in an
# initramfs, built once into a cache keyed by the kernel package's version and the module list.
# make_guest.sh CACHE_ROOT prints the guest folder, building it when missing ("make_guest: WHY",
# exit 1, when it cannot); make_guest.sh CACHE_ROOT WORK CLI DISKS... boots it with quillmar-cli,
# guest_init.sh, WORK/case.sh and the disks (-drive D -device D each): the guest's console.
set -euo pipefail
MODULES=(libata ahci ata_piix sd_mod usb-storage xhci-pci virtio_pci virtio_scsi vfat nls_cp437
         nls_ascii)

die() { echo "make_guest: $*" >&2; exit 1; }
archive() { (cd "$1" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1); }

build_guest() {  # cache_root
  command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86 is not installed"
  [ -x /bin/busybox ] && /bin/busybox --list | grep -x cpio >/dev/null ||
    die "busybox-static is not installed"
  local pkg version dir work kver tree stage offset deps rel
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-/ {print $2; exit}')
  [ -n "$pkg" ] || die "no kernel package behind linux-image-amd64 (apt-get update?)"
  version=$(apt-cache show --no-all-versions "$pkg" | awk '/^Version:/ {print $2; exit}')
  dir="$1/${pkg}_${version}_$(echo "${MODULES[*]}" | md5sum | cut -c1-8)"
  if [ -f "$dir/ready" ]; then echo "$dir"; return 0; fi
  work=$(mktemp -d "$1/build.XXXXXX")
  trap "rm -rf '$work'" EXIT
  (cd "$work" && apt-get download "$pkg" >/dev/null 2>&1) || die "apt-get download $pkg failed"
  dpkg -x "$work"/*.deb "$work/x"
  kver=$(ls "$work/x/lib/modules")
  # The kernel without its compression: it boots seconds faster under emulation.
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$work/x/boot/vmlinuz-$kver" | head -n1 |
    cut -d: -f1)
  [ -n "$offset" ] || die "no xz stream in vmlinuz-$kver"
  (tail -c +$((offset + 1)) "$work/x/boot/vmlinuz-$kver" || true) | xz -dc --single-stream \
    > "$work/vmlinux"
  tree="$work/x/lib/modules/$kver" stage="$work/stage"
  busybox depmod -b "$work/x" "$kver"
  mkdir -p "$stage/bin" "$stage"/{proc,sys,dev,tmp}
  for m in "${MODULES[@]}"; do  # each module with the modules it depends on
    deps=$(grep -E "/${m//[-_]/[-_]}\.ko(\.xz)?:" "$tree/modules.dep" | head -n1) ||
      die "module $m not in the kernel package"
    for rel in ${deps/:/}; do
      mkdir -p "$stage/lib/modules/$kver/$(dirname "$rel")"
      cp "$tree/$rel" "$stage/lib/modules/$kver/$rel"
    done
  done
  cp "$tree/modules.builtin" "$tree/modules.order" "$stage/lib/modules/$kver/"
  busybox depmod -b "$stage" "$kver"
  cp /bin/busybox "$stage/bin/busybox"
  archive "$stage" > "$work/base.cpio.gz"
  printf '%s\n' "${MODULES[@]}" > "$work/modules.load"
  mkdir -p "$dir"
  mv "$work/vmlinux" "$work/base.cpio.gz" "$work/modules.load" "$dir/"
  touch "$dir/ready"
  echo "$dir"
}

# WORK/initrd.gz: the guest's archive, then quillmar-cli with its libraries, init and case.sh.
build_initrd() {  # guest_dir work cli
  local stage=$2/stage
  mkdir -p -m 755 "$stage"  # the guest's root folder, open to its ordinary users
  install -D "$3" "$stage/bin/quillmar-cli"
  for lib in $(ldd "$3" | awk '/=> \// {print $3} /^[ \t]*\/.*ld-linux/ {print $1}'); do
    install -D "$lib" "$stage$lib"
  done
  install "$(dirname "$0")/guest_init.sh" "$stage/init"
  cp "$2/case.sh" "$1/modules.load" "$stage/"
  { cat "$1/base.cpio.gz"; archive "$stage"; } > "$2/initrd.gz"
}

mkdir -p "$1"
guest=$(exec 9>"$1/.lock" && flock 9 && build_guest "$1")  # one build at a time
[ $# -ge 3 ] || { echo "$guest"; exit 0; }
build_initrd "$guest" "$2" "$3"
timeout 600 qemu-system-x86_64 -machine pc -accel tcg -m 256 -nodefaults -display none \
  -serial stdio -no-reboot -monitor none -kernel "$guest/vmlinux" -initrd "$2/initrd.gz" \
  -append "console=ttyS0 loglevel=1 panic=-1 quillmar.disks=$((($# - 3) / 4))" \
  -device ich9-ahci,id=ahci -device ich9-ahci,id=ahci2 -device qemu-xhci,id=xhci \
  -device virtio-scsi-pci,id=scsi "${@:4}"  # four words a disk
