#!/usr/bin/env bash
# Keeps the layers honest: every folder includes only itself and the folders below it.
# Usage: layers_check.sh [SOURCE_ROOT]   (exit 0: clean; 1: a list of the includes that reach up)
#
# The order, bottom up; folders on one line are side by side and must not include each other:
#   base                 log facility, front-end interface, settings, version, byte order
#   disk                 descriptors, block I/O, probe, drive map, drive table, copy engine
#   format               on-disk structures, checksums, formatter, MPEG reset
#   drives               classification of the drives and their status texts
#   ops bench            the disk operations and the inspector; the copy benchmark
#   cli gui              the two front-ends
# A test folder tests/X stands on X (tests/support and the tests of the operations on ops);
# every test folder may also include tests/support and itself.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A RANK=([base]=0 [disk]=1 [format]=2 [drives]=3 [ops]=4 [bench]=4 [cli]=5 [gui]=5)
# Test folders that do not mirror a product folder, and the layer they stand on.
declare -A TEST_BASE=([support]=ops [kernel]=ops [fuzz]=ops)

# Prints "rank owner" for a source file, or nothing when the file is outside the layers.
layer_of() {
  local path=$1 top rest
  top=${path%%/*}
  if [ "$top" = tests ]; then
    rest=${path#tests/}
    rest=${rest%%/*}
    local base=${TEST_BASE[$rest]:-$rest}
    [ -n "${RANK[$base]:-}" ] && echo "${RANK[$base]} $base tests/$rest"
    return 0
  fi
  [ -n "${RANK[$top]:-}" ] && echo "${RANK[$top]} $top $top"
  return 0
}

failures=0
while IFS= read -r file; do
  read -r rank owner folder < <(layer_of "$file") || continue
  while IFS= read -r target; do
    top=${target%%/*}
    if [ "$top" = tests ]; then
      sub=${target#tests/}
      sub=${sub%%/*}
      [ "tests/$sub" = "$folder" ] || [ "$sub" = support ] && continue
      echo "$file includes $target: a test folder includes only tests/support and itself"
      failures=$((failures + 1))
      continue
    fi
    target_rank=${RANK[$top]:-}
    [ -z "$target_rank" ] && continue
    if [ "$top" != "$owner" ] && [ "$target_rank" -ge "$rank" ]; then
      echo "$file includes $target: $top is not below $owner"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find base disk format drives ops bench cli gui tests -name '*.h' -o -name '*.cpp' 2>/dev/null |
         sort)

if [ "$failures" -ne 0 ]; then
  echo "$failures include(s) reach up or sideways"
  exit 1
fi
echo "layers: every include points down"
