#!/usr/bin/env bash
# SPDX-FileCopyrightText: The Tavrin developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs each fuzzer for a number of executions (default ten million), one after another, and
# prints the counts. New inputs go to DIR/<fuzzer>; the seed corpus is only read.
#   tests/fuzz/run-long.sh BUILD_DIR [DIR] [RUNS] [fuzzer...]
set -u
build=${1:?build dir configured with TAVR_FUZZ=ON and clang}
work=${2:-$build/fuzz-work}
runs=${3:-10000000}
shift $(( $# < 3 ? $# : 3 ))
src=$(cd "$(dirname "$0")" && pwd)
fuzzers=${*:-fuzz_strtoint fuzz_stoptime fuzz_wavheader fuzz_inidocument fuzz_inifile}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
status=0
for f in $fuzzers; do
  mkdir -p "$work/$f"
  log="$work/$f.log"
  start=$(date +%s)
  ( cd "$work" && "$build/tests/fuzz/$f" -runs="$runs" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$f-" "$work/$f" "$src/corpus/$f" ) >"$log" 2>&1
  rc=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  execs=$(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$f: rc=$rc executions=${execs:-?} seconds=$(( $(date +%s) - start )) ${done_line}"
  [ $rc -eq 0 ] || { status=1; grep -E 'property failed|ERROR|SUMMARY' "$log" | head -5; }
done
exit $status
