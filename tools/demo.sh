#!/usr/bin/env bash
# Sets up and runs the demo: the stand-in player with the plug-in, the
# default skin and the sample playlist on http://localhost:8080/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset posix >/dev/null
cmake --build --preset posix -j2 >/dev/null
if [ ! -x build/posix/hosts/ambervox-host ]; then
  echo "The stand-in player (ambervox-host) is not part of this build yet; nothing to run." >&2
  exit 1
fi
exec bash tools/run-demo.sh build/posix
