#!/usr/bin/env bash
# Runs a Windows test program under Wine with the Japanese ANSI code page (932).
# WINEPREFIX must name a prefix made by tools/wine-prefix.sh; the usual way in
# is tools/wine-ctest.sh, which makes one and starts its wineserver.
# AMBERVOX_WINE_ARCH (win32 or win64, set by the tests' CMake) picks the loader.
if [ -z "${WINEPREFIX:-}" ]; then
  # Wine would otherwise make a default prefix in ~/.wine: no null display
  # driver (windows fail), possibly of the wrong kind, and slow to create per test.
  echo "wine-run.sh: WINEPREFIX is not set; run the tests with tools/wine-ctest.sh <build dir>" >&2
  exit 1
fi
. "$(dirname "${BASH_SOURCE[0]}")/../tools/wine-arch.sh" || exit 1
export LANG=ja_JP.UTF-8
unset LC_ALL LC_CTYPE
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml="
exec "$AMBERVOX_WINE" "$@"
