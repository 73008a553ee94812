#!/usr/bin/env bash
# Keeps the layers honest: every folder includes only itself and the folders below it.
# Usage: layers_check.sh [SOURCE_ROOT]   (exit 0: clean; 1: a list of the includes that reach up)
#
# The order, bottom up (RANK; folders of one rank must not include each other): base (log, front-end
# interface, settings, byte order), disk (descriptors, block I/O, probe, drive table, copy engine),
# format (on-disk structures), drives (classification), ops and bench, cli and gui (front-ends).
# A test folder tests/X stands on X (tests/support, kernel and fuzz on ops); every test folder may
# also include tests/support and itself, and no other test folder.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
declare -A RANK=([base]=0 [disk]=1 [format]=2 [drives]=3 [ops]=4 [bench]=4 [cli]=5 [gui]=5)
declare -A TEST_BASE=([support]=ops [kernel]=ops [fuzz]=ops)

failures=0
while IFS= read -r file; do
  owner=${file%%/*} folder=$owner
  if [ "$owner" = tests ]; then
    folder=${file#tests/}
    folder=tests/${folder%%/*}
    owner=${TEST_BASE[${folder#tests/}]:-${folder#tests/}}
  fi
  rank=${RANK[$owner]:-}
  [ -n "$rank" ] || continue
  while IFS= read -r target; do
    top=${target%%/*}
    if [ "$top" = tests ]; then
      sub=${target#tests/}
      sub=tests/${sub%%/*}
      [ "$sub" = "$folder" ] || [ "$sub" = tests/support ] && continue
      echo "$file includes $target: a test folder includes only tests/support and itself"
      failures=$((failures + 1))
    elif [ -n "${RANK[$top]:-}" ] && [ "$top" != "$owner" ] &&
      [ "${RANK[$top]}" -ge "$rank" ]; then
      echo "$file includes $target: $top is not below $owner"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find base disk format drives ops bench cli gui tests -name '*.h' -o -name '*.cpp' \
         2>/dev/null | sort)

[ "$failures" -eq 0 ] || { echo "$failures include(s) reach up or sideways"; exit 1; }
echo "layers: every include points down"
