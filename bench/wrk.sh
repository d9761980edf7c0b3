#!/usr/bin/env bash
# Pages per second and latency percentiles of the request server under wrk,
# with nginx on another loopback port as the yardstick in the same run:
#
#   ambervox  /playlist.cgi   the playlist page of a 10,000-entry playlist,
#                             rendered and gzip-compressed per request
#   ambervox  /style.css      a static file of the default skin
#   nginx     /page.html      the same page, saved once from the server
#                             gzip-compressed, served pre-compressed
#                             (gzip_static)
#   nginx     /style.css      the same static file
#
# each at 1, 16, 64 and 256 connections, with 'Accept-Encoding: gzip'.
# Prints one Markdown table (docs/PERFORMANCE.md holds the results).
#
#   bash bench/wrk.sh [--build-dir DIR] [--seconds N] [--connections "1 16 64 256"]
#                     [--query QUERY] [--only-page]
#
# --query adds a query to the page's address (for example
# "psearch=garden&current=975", the last page of a search, which reads every
# title); --only-page leaves out the static file.
#
# Builds the `bench` preset (Release) unless a configured build folder is
# given. Installs wrk and nginx when they are missing (Debian packages).
# Everything listens on and is sent to 127.0.0.1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build_dir=
seconds=10
connections="1 16 64 256"
query=
only_page=
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(cd "$2" && pwd); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --query) query=$2; shift 2 ;;
    --only-page) only_page=1; shift ;;
    *) echo "usage: bash bench/wrk.sh [--build-dir DIR] [--seconds N] [--connections LIST] [--query Q] [--only-page]"
       exit 2 ;;
  esac
done
page_path=/playlist.cgi${query:+?$query}

if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null; then
  SUDO=$([ "$(id -u)" -ne 0 ] && echo sudo || true)
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends wrk nginx >/dev/null
fi

if [ -z "$build_dir" ]; then
  cmake --preset bench >/dev/null
  build_dir=$root/build/bench
fi
cmake --build "$build_dir" -j2 --target ambervox-host gen_ambervox >/dev/null
host=$build_dir/hosts/ambervox-host
plugin=$build_dir/src/plugin/gen_ambervox.so

work=$(mktemp -d /tmp/ambervox-wrk.XXXXXX)
host_pid=
nginx_pid=
cleanup() {
  if [ -n "$host_pid" ]; then
    echo quit >&7 2>/dev/null || true
    exec 7>&- 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_listening() {
  for _ in $(seq 1 200); do
    if /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 1)" 2>/dev/null; then
      return 0
    fi
    sleep 0.05
  done
  echo "wrk.sh: nothing listens on port $1"
  exit 1
}

# The server: the default skin, a generated 10,000-entry playlist (the one
# the load tests use), the settings of the demo with the listener limits.
mkdir -p "$work/plugins" "$work/webroot" "$work/nginx-root" "$work/nginx-temp"
cp "$root"/skins/default/* "$work/webroot/"
cp "$plugin" "$work/plugins/"
/usr/bin/python3 - "$work/songs.m3u8" <<EOF
import sys
sys.path.insert(0, "$root/tests/load")
import load_test
load_test.write_playlist(sys.argv[1], 1)
EOF
port=$(free_port)
/usr/bin/python3 - "$work/plugins/plugin.ini" "$work/webroot" "$port" <<'EOF'
import sys
path, webroot, port = sys.argv[1:4]
values = [("WebRoot", webroot), ("Playlistfile", "playlist.html"), ("AdminPassword", "bench"),
          ("bDisabled", "FALSE"), ("Port", port), ("g_MaxEntries", "25")]
with open(path, "wb") as f:
    f.write(("[HTTP Request]\r\n" + "".join("%s=%s\r\n" % kv for kv in values)).encode("cp932"))
EOF
mkfifo "$work/console"
# Every wrk connection comes from 127.0.0.1, and one address may hold only 64
# connections at once (the rest are closed unanswered: socket errors at 256
# connections). Real listeners come from many addresses, so the benchmark
# lifts that limit, as the load tests do; every other limit stays.
AMBERVOX_TEST_MAX_CONNECTIONS_PER_ADDRESS=100000 \
"$host" --plugin "$work/plugins/gen_ambervox.so" --playlist "$work/songs.m3u8" --manual-clock \
  <"$work/console" >"$work/host-out.txt" 2>"$work/host-err.txt" &
host_pid=$!
exec 7>"$work/console"
wait_listening "$port"

# The yardstick: the same static file, and the page as the server sent it.
nginx_port=$(free_port)
cp "$root/skins/default/style.css" "$work/nginx-root/"
curl -sf -H 'Accept-Encoding: gzip' -o "$work/nginx-root/page.html.gz" "http://127.0.0.1:$port$page_path"
gzip -dc "$work/nginx-root/page.html.gz" >"$work/nginx-root/page.html"
cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx-temp;
  proxy_temp_path $work/nginx-temp;
  fastcgi_temp_path $work/nginx-temp;
  uwsgi_temp_path $work/nginx-temp;
  scgi_temp_path $work/nginx-temp;
  types { text/html html; text/css css; }
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/nginx-root;
    gzip_static on;
  }
}
EOF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
wait_listening "$nginx_port"
if ! curl -sf -H 'Accept-Encoding: gzip' -D - -o /dev/null "http://127.0.0.1:$nginx_port/page.html" |
     grep -qi '^Content-Encoding: gzip'; then
  echo "wrk.sh: nginx does not serve the pre-compressed page"
  exit 1
fi

page_bytes=$(stat -c %s "$work/nginx-root/page.html.gz")
css_bytes=$(stat -c %s "$work/nginx-root/style.css")
echo "Page: $page_path, $page_bytes bytes gzip-compressed ($(stat -c %s "$work/nginx-root/page.html") bytes as HTML);" \
     "static file: $css_bytes bytes. $seconds s per run, $(nproc) cores shared by wrk and the server."
echo
echo "| target | server | connections | requests/s | p50 ms | p90 ms | p99 ms | non-2xx | socket errors |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"

# One wrk run: a table row. Latencies in milliseconds.
run() {
  local target=$1 server=$2 url=$3 c=$4 threads out
  threads=$(( c < 2 ? 1 : 2 ))
  out=$(wrk -t "$threads" -c "$c" -d "${seconds}s" --latency --timeout 10s -H 'Accept-Encoding: gzip' "$url")
  echo "$out" >>"$work/wrk-raw.txt"
  /usr/bin/python3 - "$target" "$server" "$c" <<EOF
import re, sys
out = """$out"""
target, server, c = sys.argv[1:4]
def ms(label):
    m = re.search(r"^\s*%s%%\s+([\d.]+)(us|ms|s)\s*$" % label, out, re.M)
    if not m:
        return "?"
    value = float(m.group(1)) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[m.group(2)]
    return "%.2f" % value
rps = re.search(r"Requests/sec:\s+([\d.]+)", out)
non2xx = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", out)
errors = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
print("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
    target, server, c, "%.0f" % float(rps.group(1)) if rps else "?", ms("50"), ms("90"), ms("99"),
    non2xx.group(1) if non2xx else "0", sum(int(g) for g in errors.groups()) if errors else 0))
EOF
}

page_label="playlist page (10,000 entries, gzip)"
[ -z "$query" ] || page_label="playlist page ?$query (gzip)"
for c in $connections; do
  run "$page_label" ambervox "http://127.0.0.1:$port$page_path" "$c"
  run "$page_label" "nginx (pre-compressed)" "http://127.0.0.1:$nginx_port/page.html" "$c"
  if [ -z "$only_page" ]; then
    run "static file (style.css)" ambervox "http://127.0.0.1:$port/style.css" "$c"
    run "static file (style.css)" nginx "http://127.0.0.1:$nginx_port/style.css" "$c"
  fi
done
