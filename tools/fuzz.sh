#!/usr/bin/env bash
# Builds the `fuzz` preset (clang, libFuzzer, ASan + UBSan) and runs every
# fuzz target of tests/fuzz/.
#
#   bash tools/fuzz.sh            short run: a fixed number of inputs per target
#                                 (20000; fewer for the slower targets)
#   bash tools/fuzz.sh SECONDS    campaign: SECONDS of fuzzing per target
#
# Each target first replays its kept crashing inputs
# (tests/fuzz/regressions/<target>/, every file once), then fuzzes from its
# seeds (tests/fuzz/corpus/<target>/, only read) and from what earlier runs
# found (build/fuzz/corpus/<target>/, where new inputs go). A crash leaves its
# input in build/fuzz/artifacts/<target>/ and the log in build/fuzz/logs/.
# Exits non-zero when the build fails or any target crashes. A short run
# also fails when a target's coverage falls below its floor (about four
# fifths of what a short run from the seeds reaches): a target that no
# longer reaches the code it is meant to fuzz (a seam it lacks, say) would
# otherwise pass while testing next to nothing.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/fuzz
seconds=${1:-}
if [ -n "$seconds" ] && ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

targets=()
for source in tests/fuzz/*_fuzz.cpp; do
  [ -e "$source" ] || continue
  targets+=("$(basename "$source" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in tests/fuzz" >&2
  exit 1
fi

mkdir -p "$build/logs"
echo "== build fuzz (${targets[*]})"
if ! { cmake --preset fuzz >"$build/logs/configure.log" 2>&1 &&
       cmake --build --preset fuzz -j2 --target "${targets[@]}" >"$build/logs/build.log" 2>&1; }; then
  tail -n 40 "$build/logs/configure.log" "$build/logs/build.log"
  echo "fuzz build failed"
  exit 1
fi

export TZ=UTC
# The profile target rewrites its INI file thousands of times a second; on a
# disk file system each truncating rewrite may wait for the disk, so a memory
# file system is used where there is one.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export AMBERVOX_TEST_TMP=/dev/shm/ambervox-fuzz-$(id -u)
else
  export AMBERVOX_TEST_TMP=$build/test-tmp
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$AMBERVOX_TEST_TMP"


failed=()
for target in "${targets[@]}"; do
  binary=$build/tests/fuzz/$target
  log=$build/logs/$target.log
  seeds=$root/tests/fuzz/corpus/$target
  regressions=$root/tests/fuzz/regressions/$target
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target/
  mkdir -p "$work" "$artifacts" "$seeds"
  options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts")
  runs=20000
  # The coverage ("cov", edges) a short run must reach.
  case $target in
    http_date_fuzz) floor=180 ;;
    profile_fuzz) floor=600 ;;
    query_string_fuzz) floor=460 ;;
    request_head_fuzz) floor=900 ;;
    site_fuzz) floor=2100 ;;
    template_line_fuzz) floor=3200 ;;
    text_operations_fuzz) floor=420 ;;
    *) floor=0 ;;
  esac
  case $target in
    # Each input is an INI file written and read back many times: slower.
    profile_fuzz) runs=2500 ;;
    # Template lines may be longer than the 8191-byte pieces of a skin file.
    # The player answers on a thread of its own, so an input's allocations
    # and frees need not balance when it ends; libFuzzer's per-input leak
    # check would then scan the heap after nearly every input. Leaks are
    # still reported when the process ends.
    template_line_fuzz) runs=2500; options+=(-max_len=12000 -detect_leaks=0) ;;
  esac
  if [ -n "$seconds" ]; then
    mode=(-max_total_time="$seconds")
  else
    mode=(-runs="$runs")
  fi

  : >"$log"
  if [ -d "$regressions" ]; then
    mapfile -t kept < <(find "$regressions" -type f | sort)
    if [ ${#kept[@]} -gt 0 ]; then
      if ! "$binary" "${options[@]}" "${kept[@]}" >>"$log" 2>&1; then
        echo "FAILED: $target: a kept crashing input crashes again (see $log)"
        tail -n 30 "$log"
        failed+=("$target")
        continue
      fi
    fi
  fi
  if "$binary" "${options[@]}" "${mode[@]}" "$work" "$seeds" >>"$log" 2>&1; then
    summary=$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1)
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)
    edges=$(echo "$coverage" | sed -E 's/^cov: ([0-9]+).*/\1/')
    if [ -z "$seconds" ] && [ "${edges:-0}" -lt "$floor" ]; then
      echo "FAILED: $target: coverage ${edges:-unknown} below its floor $floor (see $log)"
      failed+=("$target")
      continue
    fi
    echo "ok: $target: ${summary:-done} ($coverage)"
  else
    echo "FAILED: $target (see $log; input in $artifacts)"
    grep -E 'ERROR: |invariant broken|runtime error|SUMMARY' "$log" | head -n 10
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets passed"
