#!/usr/bin/env bash
# The load and fault tests (tests/load/load_test.py) against the native
# build's ambervox-host and plug-in. Builds the posix preset first, unless a
# build folder is given, which must already hold a configured build.
#
#   bash tools/load-test.sh [--build-dir DIR] [load_test.py options...]
#
# All traffic goes to 127.0.0.1; the run takes about two minutes (the
# slowloris scenario waits for the server's 30-second head time-out) and
# ends with the line "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=
if [ "${1:-}" = "--build-dir" ]; then
  build_dir=$(cd "$2" && pwd)
  shift 2
fi
if [ -z "$build_dir" ]; then
  cmake --preset posix >/dev/null
  build_dir=$root/build/posix
fi
cmake --build "$build_dir" -j2 --target ambervox-host gen_ambervox >/dev/null

host=$build_dir/hosts/ambervox-host
plugin=$(find "$build_dir/src/plugin" -maxdepth 1 -name 'gen_ambervox.so' | head -n 1)
if [ ! -x "$host" ] || [ -z "$plugin" ]; then
  echo "load-test: no ambervox-host or gen_ambervox.so in $build_dir"
  exit 1
fi

# Hundreds of sockets on both sides.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || ulimit -n 8192 2>/dev/null || true

export AMBERVOX_PLATFORM=posix AMBERVOX_HOST=$host AMBERVOX_PLUGIN=$plugin
export AMBERVOX_SOURCE_DIR=$root AMBERVOX_BUILD_DIR=$build_dir PYTHONDONTWRITEBYTECODE=1
# A bounded run even if something hangs: the scenarios end by themselves
# well within this.
exec timeout --kill-after=30 600 /usr/bin/python3 "$root/tests/load/load_test.py" "$@"
