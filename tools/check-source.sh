#!/usr/bin/env bash
# The checks of the source itself, before anything is built:
#
#   structure  tools/check-structure.py: the layers' include direction, no
#              include cycle, no function of 80 lines or more in src/
#   format     every C++ file of src/, tests/, bench/ and hosts/ as
#              clang-format (.clang-format) would write it
#
# Prints each finding and, last, "N passed, N failed" (one count per check).
#
#   bash tools/check-source.sh            check
#   bash tools/check-source.sh --fix      reformat the files that differ
set -uo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format || true)
mapfile -t files < <(git ls-files 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' 'bench/*.h' 'bench/*.cpp' \
                                  'hosts/*.h' 'hosts/*.cpp')

if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi

passed=0 failed=0
if python3 tools/check-structure.py --self-test >/tmp/ambervox-structure.log 2>&1 &&
   python3 tools/check-structure.py >>/tmp/ambervox-structure.log 2>&1; then
  passed=$((passed + 1))
else
  grep -v ' passed, ' /tmp/ambervox-structure.log
  failed=$((failed + 1))
fi

if [ -z "$format" ]; then
  echo "format: clang-format is not installed (tools/setup.sh installs it)"
  failed=$((failed + 1))
else
  unformatted=()
  for f in "${files[@]}"; do
    "$format" --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
  done
  if [ ${#unformatted[@]} -eq 0 ]; then
    passed=$((passed + 1))
  else
    printf 'format: %s differs from clang-format (bash tools/check-source.sh --fix)\n' "${unformatted[@]}"
    failed=$((failed + 1))
  fi
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
