#!/usr/bin/env bash
# The emulated-hardware tier's guest: a Debian kernel and the disk drivers' modules with busybox
# in an initramfs, built once into a cache keyed by the kernel package's version.
#   make_guest.sh guest CACHE_ROOT
#       prints the guest folder (vmlinux, base.cpio.gz, modules.load); fetches and builds it
#       when the cache has none for the current kernel package
#   make_guest.sh initrd GUEST_DIR OUT CLI_BINARY INIT CASE_SCRIPT
#       writes OUT: the guest's base archive followed by one holding quillmar-cli with its
#       libraries, the init program and the case's script
set -euo pipefail

# The drivers the tier's disks need (their dependencies come along).
MODULES=(libata ahci ata_piix sd_mod sr_mod usb-storage xhci-pci virtio_pci virtio_scsi vfat
         nls_cp437 nls_ascii)

die() { echo "make_guest: $*" >&2; exit 1; }

# Copies the module with path rel (inside the module tree) and its dependencies into stage.
copy_module_tree() {  # tree stage
  local tree=$1 stage=$2 wanted=() rel
  for m in "${MODULES[@]}"; do
    rel=$(grep -E "/${m//[-_]/[-_]}\.ko(\.xz)?:" "$tree/modules.dep" | head -n1) ||
      die "module $m not in the kernel package"
    wanted+=(${rel/:/})
  done
  for rel in "${wanted[@]}"; do
    mkdir -p "$stage/$(dirname "$rel")"
    cp "$tree/$rel" "$stage/$rel"
  done
}

build_guest() {  # cache_root
  command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86 is not installed"
  [ -x /bin/busybox ] && /bin/busybox --list | grep -qx cpio || die "busybox-static is not installed"
  local pkg version dir
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  [ -n "$pkg" ] || die "no kernel package behind linux-image-amd64 (apt-get update?)"
  version=$(apt-cache show --no-all-versions "$pkg" | awk '/^Version:/ {print $2; exit}')
  dir="$1/${pkg}_${version}"
  if [ -f "$dir/ready" ]; then echo "$dir"; return 0; fi
  WORK=""
  WORK=$(mktemp -d "$1/build.XXXXXX")
  local work=$WORK
  trap 'rm -rf "$WORK"' EXIT
  (cd "$work" && apt-get download "$pkg" >/dev/null 2>&1) || die "apt-get download $pkg failed"
  dpkg -x "$work"/*.deb "$work/x"
  local kver
  kver=$(ls "$work/x/lib/modules")
  # The kernel without its compression: it boots seconds faster under emulation.
  local vmlinuz="$work/x/boot/vmlinuz-$kver" offset
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1)
  [ -n "$offset" ] || die "no xz stream in $vmlinuz"
  (tail -c +$((offset + 1)) "$vmlinuz" || true) | xz -dc --single-stream > "$work/vmlinux"
  local tree="$work/x/lib/modules/$kver"
  busybox depmod -b "$work/x" "$kver"
  local stage="$work/stage"
  mkdir -p "$stage/bin" "$stage/lib/modules/$kver" "$stage"/{proc,sys,dev,tmp,mnt}
  chmod 755 "$stage"  # the guest's root folder, open to its ordinary users
  copy_module_tree "$tree" "$stage/lib/modules/$kver"
  cp "$tree/modules.builtin" "$tree/modules.order" "$stage/lib/modules/$kver/"
  busybox depmod -b "$stage" "$kver"
  cp /bin/busybox "$stage/bin/busybox"
  (cd "$stage" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$work/base.cpio.gz"
  printf '%s\n' "${MODULES[@]}" > "$work/modules.load"
  mkdir -p "$dir"
  mv "$work/vmlinux" "$work/base.cpio.gz" "$work/modules.load" "$dir/"
  touch "$dir/ready"
  echo "$dir"
}

# The shared libraries a binary needs (by ldd), with the dynamic loader.
library_paths() {
  ldd "$1" | awk '/=> \// {print $3} /^[ \t]*\/.*ld-linux/ {print $1}'
}

build_initrd() {  # guest_dir out cli init case
  local guest=$1 out=$2 cli=$3 init=$4 case_script=$5 stage
  STAGE=""
  STAGE=$(mktemp -d)
  stage=$STAGE
  trap 'rm -rf "$STAGE"' EXIT
  mkdir -p "$stage/bin"
  chmod 755 "$stage"
  cp "$cli" "$stage/bin/quillmar-cli"
  for lib in $(library_paths "$cli"); do
    mkdir -p "$stage$(dirname "$lib")"
    cp -L "$lib" "$stage$lib"
  done
  cp "$init" "$stage/init"
  cp "$case_script" "$stage/case.sh"
  cp "$guest/modules.load" "$stage/modules.load"
  chmod 755 "$stage/init"
  { cat "$guest/base.cpio.gz"
    (cd "$stage" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1)
  } > "$out"
}

case "${1:-}" in
  guest)  # one build at a time: tests that run in parallel share it
    mkdir -p "$2"
    exec 9>"$2/.lock"
    flock 9
    build_guest "$2" ;;
  initrd) build_initrd "$2" "$3" "$4" "$5" "$6" ;;
  *) sed -n '2,9p' "$0"; exit 2 ;;
esac
