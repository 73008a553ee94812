#!/usr/bin/env bash
# The whole upgrade on two sample image drives, without questions: an old ReplayTV disk and a
# larger blank disk are written into a temporary folder, then listed, the system partition is
# mirrored, the MPEG partition copied, the new disk patched (keeping the recordings), listed
# again and inspected. The folder is removed at the end, whatever happens.
#   cli/demo.sh PATH-TO-quillmar-cli
set -euo pipefail
CLI=$(realpath "${1:?usage: demo.sh PATH-TO-quillmar-cli}")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmar-demo-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"  # quillmar.log lands here too

step() { printf '\n======== %s\n' "$*"; }
run() {
  step "quillmar-cli $*"
  "$CLI" --drive "$WORK/drives/old.img" --drive "$WORK/drives/new.img" "$@"
}

SECONDS=0
step "quillmar-cli demo $WORK/drives"
"$CLI" demo "$WORK/drives"
run list
run --yes mirror 0 1
run --yes copy-mpeg 0 1
run --yes patch 1 --mpeg keep
run list
run inspect 1
printf '\n======== The new disk verifies. The whole upgrade took %d s.\n' "$SECONDS"
