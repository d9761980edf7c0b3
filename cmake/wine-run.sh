#!/usr/bin/env bash
# Runs a Windows test program under Wine with the Japanese ANSI code page (932).
# WINEPREFIX must name a prefix made by tools/wine-prefix.sh.
export LANG=ja_JP.UTF-8
unset LC_ALL
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
