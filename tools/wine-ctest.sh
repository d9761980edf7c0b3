#!/usr/bin/env bash
# Runs the Windows build's tests under Wine:
#   tools/wine-ctest.sh <build dir> [ctest arguments...]
# Makes <build dir>/wineprefix if needed (tools/wine-prefix.sh), starts a
# persistent wineserver and warms it up before ctest runs, so that Wine's
# helper processes are started here with their output going nowhere instead of
# inheriting a test's output pipe (which costs seconds per test or hangs
# ctest). Ends the server afterwards and returns ctest's exit code.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <build dir> [ctest arguments...]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd) || exit 2
shift

bash "$here/wine-prefix.sh" "$build/wineprefix" || exit 1

export WINEPREFIX="$build/wineprefix"
export LANG=ja_JP.UTF-8
unset LC_ALL LC_CTYPE DISPLAY
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_server() { wineserver -k >/dev/null 2>&1 || true; }
trap 'stop_server; exit 130' INT TERM

wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

ctest --test-dir "$build" "$@"
rc=$?
stop_server
exit $rc
