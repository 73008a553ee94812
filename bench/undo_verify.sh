#!/usr/bin/env bash
# What the undo file and the read-back verification cost, on the demo drives (image files in a
# temporary folder): a patch with and without --undo (medians of ROUNDS, alternating), and a
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
drop_caches() { sync; [ "$(id -u)" -eq 0 ] && echo 3 >/proc/sys/vm/drop_caches || true; }

for kind in plain undo; do : >"$kind.times"; done
for ((i = 0; i < ROUNDS; i++)); do
  for kind in plain undo; do
    cp --sparse=always copied.img new.img
    rm -f patch.qun
    extra=()
    [ "$kind" = undo ] && extra=(--undo patch.qun)
    t0=$(now)
    "$CLI" "${D[@]}" --yes patch 1 --mpeg keep "${extra[@]}" >/dev/null 2>&1
    echo $(($(now) - t0)) >>"$kind.times"
  done
done
plain=$(median <plain.times)
undo=$(median <undo.times)
echo "patch --mpeg keep: plain $((plain / 1000000)) ms, with --undo $((undo / 1000000)) ms," \
  "undo file $(stat -c %s patch.qun) bytes, added $(awk -v a="$plain" -v b="$undo" 'BEGIN {printf "%.1f", (b - a) * 100 / a}')%"

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
