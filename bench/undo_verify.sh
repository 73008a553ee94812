#!/usr/bin/env bash
# What the undo file and the read-back verification cost, on the demo drives (image files in a
# temporary folder, and as loop devices when root): a patch with and without --undo (medians of
# ROUNDS, alternating), and a
# mirror + copy-mpeg with --verify against one plain read of the same range (cold cache when root).
#   bench/undo_verify.sh build/cli/quillmar-cli [ROUNDS]
set -euo pipefail
CLI=$(realpath "$1")
ROUNDS=${2:-7}
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
"$CLI" demo . >/dev/null
D=(--drive old.img --drive new.img)
"$CLI" "${D[@]}" --yes mirror 0 1 >/dev/null 2>&1
"$CLI" "${D[@]}" --yes copy-mpeg 0 1 >/dev/null 2>&1
cp --sparse=always new.img copied.img

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# Cold: caches dropped, then a pause, so that memory freed by the drop has settled (a virtual
# machine hands it back to its host after a few seconds) before the next measured step.
drop_caches() { sync; [ "$(id -u)" -eq 0 ] && echo 3 >/proc/sys/vm/drop_caches && sleep 5 || true; }

# Patches drive 1 of the given drives, with and without --undo, ROUNDS times each, alternating;
# before each patch, RESTORE puts the target back as it was and the cache is written out (that
# writeback is not the patch's to pay). Prints the medians and what the undo file added.
patch_cost() {
  local label=$1 restore=$2
  shift 2
  for kind in plain undo; do : >"$kind.times"; done
  for ((i = 0; i < ROUNDS; i++)); do
    for kind in plain undo; do
      $restore
      rm -f patch.qun
      sync
      extra=()
      [ "$kind" = undo ] && extra=(--undo patch.qun)
      t0=$(now)
      "$CLI" "$@" --yes patch 1 --mpeg keep "${extra[@]}" >/dev/null 2>&1 || { echo "patch failed"; exit 1; }
      echo $(($(now) - t0)) >>"$kind.times"
    done
  done
  plain=$(median <plain.times)
  undo=$(median <undo.times)
  echo "patch --mpeg keep ($label): plain $((plain / 1000)) us, with --undo $((undo / 1000)) us," \
    "undo file $(stat -c %s patch.qun) bytes, added $(awk -v a="$plain" -v b="$undo" 'BEGIN {printf "%.1f", (b - a) * 100 / a}')%"
}

restore_image() { cp --sparse=always copied.img new.img; }
patch_cost "image files" restore_image "${D[@]}"
if [ "$(id -u)" -eq 0 ]; then  # the same disks as loop devices, as a patch of a real disk sees them
  OLD_LOOP=$(losetup --find --show old.img)
  cp --sparse=always copied.img new.img
  NEW_LOOP=$(losetup --find --show new.img)
  trap 'losetup -d "$OLD_LOOP" "$NEW_LOOP"; rm -rf "$DIR"' EXIT
  # a patch writes only in the first 64 MiB of this target
  restore_loop() { dd if=copied.img of="$NEW_LOOP" bs=1M count=64 conv=fsync status=none; }
  patch_cost "loop devices" restore_loop --drive "$OLD_LOOP" --drive "$NEW_LOOP"
  restore_loop
  cmp -s copied.img "$NEW_LOOP" || { echo "the loop target was not put back whole"; exit 1; }
  losetup -d "$OLD_LOOP" "$NEW_LOOP"
  trap 'rm -rf "$DIR"' EXIT
fi

cp --sparse=always copied.img new.img
drop_caches
t0=$(now)
"$CLI" "${D[@]}" --yes copy-mpeg 0 1 >/dev/null 2>&1
copy=$(($(now) - t0))
drop_caches
t0=$(now)
"$CLI" "${D[@]}" --yes copy-mpeg 0 1 --verify >/dev/null 2>&1
copy_verify=$(($(now) - t0))
drop_caches
t0=$(now)
range=$(($(stat -c %s old.img) - 40002 * 512))  # what copy-mpeg copies: partition 2 of old.img
dd if=new.img bs=256K skip=$((40002 * 512)) count=$range iflag=skip_bytes,count_bytes \
  of=/dev/null status=none
read=$(($(now) - t0))
echo "copy-mpeg (1 GB): $((copy / 1000000)) ms, with --verify $((copy_verify / 1000000)) ms;" \
  "verify added $(((copy_verify - copy) / 1000000)) ms, one read of the range $((read / 1000000)) ms"
