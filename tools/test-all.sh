#!/usr/bin/env bash
# The README's test command: installs what is needed, builds every
# configuration and runs every test. Ends with one summary line
# "N passed, N failed, N skipped", after a line per skipped test with its
# reason: a skip is never silent.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh || { echo "setup failed"; exit 1; }

passed=0
failed=0
skipped=0
failures=()
skips=()  # "name: reason" of every test that was not run
logdir=$root/build/logs
mkdir -p "$logdir"

# pytest names its failed, skipped and expected-to-fail tests in its summary.
export PYTEST_ADDOPTS="-rfEsxX"
# What every ctest run is given: the whole output of passing tests goes into
# a JUnit report, where count_skips finds the skipped ones.
ctest_report() { echo "--test-output-size-passed 1000000 --output-junit $logdir/$1-junit.xml"; }

# count_skips PRESET: adds the skipped tests of a ctest run's report.
count_skips() {
  local report=$logdir/$1-junit.xml out n
  out=$(python3 tools/skipped-tests.py "$report")
  n=$(echo "$out" | tail -n 1 | sed -E 's/^skipped ([0-9]+)$/\1/')
  [[ "$n" =~ ^[0-9]+$ ]] || n=0
  skipped=$((skipped + n))
  while IFS= read -r line; do
    [ -n "$line" ] && skips+=("$1: ${line#SKIPPED: }")
  done < <(echo "$out" | grep '^SKIPPED: ')
  echo "$out" | grep '^NOTE: ' || true
}

# show_failures LOG NAME: the failed cases inside a run's programs
# (GoogleTest's and pytest's own summary lines, pytest's with the error's
# first line), added to the failures that the summary lists last, so that
# a CI log that keeps only the end of this script's output still says which
# case failed and why.
show_failures() {
  local line
  while IFS= read -r line; do
    failures+=("$2: ${line:0:400}")
  done < <(grep -aE '^\[  FAILED  \] [A-Za-z]|^(FAILED|ERROR) [^ ]+\.py' "$1" | sort -u | head -n 30)
}

# count_ctest LOG NAME: adds the counts of a ctest run to the totals.
count_ctest() {
  local log=$1 name=$2 line total nfail
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$name: no test result"); return
  fi
  nfail=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
  passed=$((passed + total - nfail)); failed=$((failed + nfail))
  [ "$nfail" -eq 0 ] || { failures+=("$name: $nfail failed (see $log)"); show_failures "$log" "$name"; }
}

# count_plain LOG NAME: adds the counts of a "N passed, N failed" line.
count_plain() {
  local log=$1 name=$2 line np nf
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1)); failures+=("$name: no result (see $log)"); return
  fi
  np=$(echo "$line" | sed -E 's/^([0-9]+) passed.*/\1/')
  nf=$(echo "$line" | sed -E 's/^[0-9]+ passed, ([0-9]+) failed.*/\1/')
  passed=$((passed + np)); failed=$((failed + nf))
  [ "$nf" -eq 0 ] || failures+=("$name: $nf failed (see $log)")
}

# build PRESET: configure and build one preset; a failure counts as one.
build() {
  local preset=$1
  echo "== build $preset"
  if ! { cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1 &&
         cmake --build --preset "$preset" -j2 >"$logdir/$preset-build.log" 2>&1; }; then
    tail -n 40 "$logdir/$preset-configure.log" "$logdir/$preset-build.log" 2>/dev/null
    failed=$((failed + 1)); failures+=("$preset: build failed")
    return 1
  fi
}

# The source itself: the layers' include direction, no include cycle, no
# function of 80 lines or more, and clang-format's layout.
echo "== source checks"
bash tools/check-source.sh >"$logdir/source-checks.log" 2>&1
grep -vE '^[0-9]+ passed, ' "$logdir/source-checks.log" | tail -n 20
count_plain "$logdir/source-checks.log" source-checks

for preset in posix posix-asan; do
  if build "$preset"; then
    echo "== test $preset"
    # shellcheck disable=SC2046
    ASAN_OPTIONS=detect_leaks=1 ctest --preset "$preset" -j2 $(ctest_report "$preset") \
      >"$logdir/$preset-test.log" 2>&1
    grep -E 'tests passed|\*\*\*Failed|Failed|Timeout' "$logdir/$preset-test.log" | tail -n 20
    count_ctest "$logdir/$preset-test.log" "$preset"
    count_skips "$preset"
  fi
done

# ThreadSanitizer on the tests of the code that threads share (the queue,
# the cache, the connection threads and the server, the player's channel,
# threads and windows, the plug-in, and the end-to-end
# suite against the instrumented host and module).
if build posix-tsan; then
  echo "== test posix-tsan (concurrency)"
  # shellcheck disable=SC2046
  TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tools/tsan-suppressions.txt" ctest --preset posix-tsan -j2 \
    -R 'request_queue|playlist_cache|connection_threads|http_server|player_host|platform_(threads|window)|pages_server|plugin_test|e2e' \
    $(ctest_report posix-tsan) >"$logdir/posix-tsan-test.log" 2>&1
  grep -E 'tests passed|\*\*\*Failed|Failed|Timeout' "$logdir/posix-tsan-test.log" | tail -n 20
  count_ctest "$logdir/posix-tsan-test.log" posix-tsan
  count_skips posix-tsan
fi

# Load and fault tests against the posix build (tests/load/, about two
# minutes, 127.0.0.1 only).
echo "== load tests (posix)"
bash tools/load-test.sh --build-dir build/posix >"$logdir/load-test.log" 2>&1
grep -E '^FAIL|passed, [0-9]+ failed' "$logdir/load-test.log" | tail -n 20
count_plain "$logdir/load-test.log" load

# Short fuzz runs: the kept crashing inputs, then a fixed number of runs per
# target (tools/fuzz.sh SECONDS runs a longer campaign).
echo "== fuzz (short runs)"
bash tools/fuzz.sh >"$logdir/fuzz.log" 2>&1
grep -E '^(ok|FAILED): |^fuzz: ' "$logdir/fuzz.log" | tail -n 10
fuzz_ok=$(grep -cE '^ok: ' "$logdir/fuzz.log")
fuzz_bad=$(grep -cE '^FAILED: ' "$logdir/fuzz.log")
if ! grep -qE '^fuzz: [0-9]+ targets passed' "$logdir/fuzz.log" && [ "$fuzz_bad" -eq 0 ]; then
  fuzz_bad=1  # the build or the script itself failed
fi
passed=$((passed + fuzz_ok)); failed=$((failed + fuzz_bad))
[ "$fuzz_bad" -eq 0 ] || failures+=("fuzz: $fuzz_bad failed (see $logdir/fuzz.log)")

# runs_32bit: whether this machine can run 32-bit x86 programs, tried once
# on the 32-bit Wine loader (itself one). tools/setup.sh has registered an
# emulator where the kernel cannot run them itself. When it still cannot,
# no32 says why: the kernel's message where it left one, else the loader's.
runs_32bit() {
  local loader=/usr/lib/wine/wine out
  if [ ! -x "$loader" ]; then no32="the 32-bit Wine loader $loader is missing"; return 1; fi
  out=$(timeout 120 bash -c 'exec "$0" --version' "$loader" </dev/null 2>&1) && return 0
  no32=$(dmesg 2>/dev/null | grep -m 1 -o 'IA-32 emulation off.*')
  [ -n "$no32" ] || no32=$(echo "$out" | tail -n 1)
  return 1
}

# The product is the 32-bit build: every Windows test runs on it (the unit
# programs, the end-to-end suite against the real DLL, the settings dialog
# and the installer). Where 32-bit programs cannot run at all, it is still
# built and its DLL checked (objdump), and the same tests run only as win64.
no32=""
runs_32bit || echo "== 32-bit programs cannot run here: $no32"
if build win32; then
  if [ -z "$no32" ]; then
    echo "== test win32 (under Wine$(grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && echo ', through qemu-i386'))"
    # shellcheck disable=SC2046
    bash tools/wine-ctest.sh build/win32 -j2 --output-on-failure $(ctest_report win32) >"$logdir/win32-test.log" 2>&1
  else
    echo "== test win32 (the DLL's imports and export only)"
    # shellcheck disable=SC2046
    ctest --test-dir build/win32 -R 'dll_imports_and_export' $(ctest_report win32) >"$logdir/win32-test.log" 2>&1
    total=$(ctest --test-dir build/win32 -N | sed -n 's/^Total Tests: //p')
    skipped=$((skipped + ${total:-0} - 1))  # all but the DLL check
    skips+=("win32 under Wine, $((${total:-0} - 2)) tests (run as win64 instead): $no32")
    skips+=("win32.installer (a 32-bit program, no 64-bit counterpart): $no32")
  fi
  grep -E 'tests passed|\*\*\*Failed|Failed|Timeout' "$logdir/win32-test.log" | tail -n 20
  count_ctest "$logdir/win32-test.log" win32
  count_skips win32
fi
# The same Windows code built for 64 bits, under 64-bit Wine: a second
# compiler's view that a pointer never passes through a 32-bit integer
# (which the 32-bit build cannot show), and the fast native check.
if build win64; then
  echo "== test win64 (under 64-bit Wine)"
  # shellcheck disable=SC2046
  bash tools/wine-ctest.sh build/win64 -j2 --output-on-failure $(ctest_report win64) >"$logdir/win64-test.log" 2>&1
  grep -E 'tests passed|\*\*\*Failed|Failed|Timeout' "$logdir/win64-test.log" | tail -n 20
  count_ctest "$logdir/win64-test.log" win64
  count_skips win64
fi

echo
for s in "${skips[@]}"; do echo "SKIPPED: $s"; done
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
