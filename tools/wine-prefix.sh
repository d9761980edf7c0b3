#!/usr/bin/env bash
# Makes a Wine prefix for running the Windows build under Wine:
#   tools/wine-prefix.sh <prefix folder>
# Idempotent and quiet: a finished prefix (marked by .ambervox-prefix inside,
# which names its kind) is left as it is; otherwise it is created or
# completed. Prints nothing on success; on failure it prints what Wine said
# and exits non-zero.
#
# The prefix gets:
#  - WINEARCH=win32 (the product is a 32-bit DLL), or win64 for the 64-bit
#    test build: AMBERVOX_WINE_ARCH chooses (tools/wine-arch.sh);
#  - the null graphics driver, so windows, message loops and cross-thread
#    SendMessage work without an X server;
#  - the Japanese locale (ja_JP.UTF-8), so the ANSI code page is 932 as on the
#    machines the plug-in is made for;
#  - 'MS UI Gothic' mapped to IPAPGothic, so Japanese dialog text is drawn.
set -euo pipefail

if [ $# -lt 1 ] || [ -z "$1" ]; then
  echo "usage: $0 <prefix folder>" >&2
  exit 2
fi
mkdir -p "$1"
prefix=$(cd "$1" && pwd)  # Wine wants an absolute path
stamp="$prefix/.ambervox-prefix"
. "$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh"

# A finished prefix of the other kind cannot serve: Wine refuses to run
# programs in it with the other WINEARCH.
finished() {
  [ -f "$stamp" ] || return 1
  local kind
  kind=$(cat "$stamp")
  [ "${kind:-win32}" = "$AMBERVOX_WINE_ARCH" ] && return 0
  echo "wine-prefix: $prefix is a ${kind:-win32} prefix, not $AMBERVOX_WINE_ARCH; remove it" >&2
  exit 1
}
finished && exit 0

# Without a generated ja_JP.UTF-8 locale Wine silently falls back to code
# page 1252 and every code page test becomes meaningless.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "wine-prefix: the ja_JP.UTF-8 locale is missing (run tools/setup.sh)" >&2
  exit 1
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
unset LC_ALL LC_CTYPE DISPLAY

# Two test runs may start at once; one of them makes the prefix.
exec 9>"$prefix/.ambervox-lock"
flock 9
finished && exit 0

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! {
  "$AMBERVOX_WINE" wineboot -i &&
    "$AMBERVOX_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f &&
    "$AMBERVOX_WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d IPAPGothic /f &&
    "$AMBERVOX_WINESERVER" -w
} </dev/null >"$log" 2>&1; then
  echo "wine-prefix: could not prepare $prefix:" >&2
  cat "$log" >&2
  exit 1
fi
echo "$AMBERVOX_WINE_ARCH" >"$stamp"
