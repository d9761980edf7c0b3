#!/usr/bin/env bash
# Runs the Windows build's tests under Wine:
#   tools/wine-ctest.sh <build dir> [ctest arguments...]
# Makes <build dir>/wineprefix if needed (tools/wine-prefix.sh), starts a
# persistent wineserver and warms it up before ctest runs, so that Wine's
# helper processes are started here with their output going nowhere instead of
# inheriting a test's output pipe (which costs seconds per test or hangs
# ctest). Ends the server afterwards and returns ctest's exit code.
# The build folder says which Wine runs it (AMBERVOX_WINE_ARCH in its
# CMakeCache.txt: win32 for the product, win64 for the 64-bit test build).
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <build dir> [ctest arguments...]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd) || exit 2
shift

AMBERVOX_WINE_ARCH=$(sed -n 's/^AMBERVOX_WINE_ARCH:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
. "$here/wine-arch.sh" || exit 2
bash "$here/wine-prefix.sh" "$build/wineprefix" || exit 1

export WINEPREFIX="$build/wineprefix"
export LANG=ja_JP.UTF-8
unset LC_ALL LC_CTYPE DISPLAY
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_server() { "$AMBERVOX_WINESERVER" -k >/dev/null 2>&1 || true; }
trap 'stop_server; exit 130' INT TERM

"$AMBERVOX_WINESERVER" -p </dev/null >/dev/null 2>&1
"$AMBERVOX_WINE" cmd /c exit </dev/null >/dev/null 2>&1

ctest --test-dir "$build" "$@"
rc=$?
stop_server
exit $rc
