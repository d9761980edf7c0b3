#!/usr/bin/env bash
# Runs the demo from a finished native build:
#   tools/run-demo.sh <build dir>
# The stand-in player (ambervox-host) loads the plug-in from a temporary
# plug-in folder whose plugin.ini is the demo's sample (tools/demo-plugin.ini)
# with WebRoot set to the skin folder, plays skins/default/sample.m3u8 in real time, and serves
# http://localhost:8080/. Commands typed here go to the host's console
# (status, song-end, commands, quit, ...). Ctrl-C or end of input stops it
# cleanly: the plug-in quits, the server stops, the folder is removed.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 <build dir>" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
host=$build/hosts/ambervox-host
plugin=$build/src/plugin/gen_ambervox.so
skin=$root/skins/default
port=8080
for f in "$host" "$plugin"; do
  [ -f "$f" ] || { echo "run-demo: $f is missing; build $build first" >&2; exit 1; }
done

demo=$(mktemp -d "${TMPDIR:-/tmp}/ambervox-demo.XXXXXX")
trap 'rm -rf "$demo"' EXIT
cp "$plugin" "$demo/"
# The sample is code page 932 with CRLF lines: only the WebRoot line changes,
# byte for byte. A plain absolute path is a folder on POSIX.
escaped=$(printf '%s' "$skin" | sed 's/[&|\\]/\\&/g')
LC_ALL=C sed "s|^WebRoot=[^\r]*|WebRoot=$escaped|" "$root/tools/demo-plugin.ini" >"$demo/plugin.ini"

# In the background, but reading this terminal (or whatever the input is).
"$host" --plugin "$demo/gen_ambervox.so" --playlist "$skin/sample.m3u8" --play 0<&0 &
pid=$!
# Ctrl-C reaches the host from the terminal as well; a signal sent to this
# script alone is passed on. The host turns it into a quit.
trap 'kill -INT "$pid" 2>/dev/null || true' INT TERM

for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "Ambervox demo: http://localhost:$port/"
    echo "(type a command such as status or quit; Ctrl-C stops)"
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done

set +e
rc=0
while kill -0 "$pid" 2>/dev/null; do
  wait "$pid"
  rc=$?
done
exit "$rc"
