#!/usr/bin/env bash
# Every folder includes only itself and the folders below it (RANK; not those of its own rank).
# A test folder tests/X stands on X (tests/support, kernel and fuzz on ops), and includes no other
# test folder than tests/support.
# Usage: layers_check.sh [SOURCE_ROOT]   (exit 0: clean; 1: a list of the includes that reach up)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
declare -A RANK=([base]=0 [disk]=1 [format]=2 [drives]=3 [ops]=4 [bench]=4 [cli]=5 [gui]=5)
declare -A TEST_BASE=([support]=ops [kernel]=ops [fuzz]=ops)

failures=0
flag() { echo "$file includes $target: $*"; failures=$((failures + 1)); }
while IFS= read -r file; do
  IFS=/ read -r owner sub _ <<<"$file"
  folder=$owner
  [ "$owner" = tests ] && folder=tests/$sub && owner=${TEST_BASE[$sub]:-$sub}
  rank=${RANK[$owner]:-}
  [ -n "$rank" ] || continue
  while IFS= read -r target; do
    IFS=/ read -r top sub _ <<<"$target"
    if [ "$top" = tests ]; then
      [ "tests/$sub" = "$folder" ] || [ "$sub" = support ] && continue
      flag "a test folder includes only tests/support and itself"
    elif [ -n "${RANK[$top]:-}" ] && [ "$top" != "$owner" ] &&
      [ "${RANK[$top]}" -ge "$rank" ]; then
      flag "$top is not below $owner"
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find base disk format drives ops bench cli gui tests -name '*.h' -o -name '*.cpp' \
         2>/dev/null | sort)

[ "$failures" -eq 0 ] || { echo "$failures include(s) reach up or sideways"; exit 1; }
echo "layers: every include points down"
