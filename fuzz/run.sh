#!/usr/bin/env bash
# Builds the fuzz targets (see fuzz/CMakeLists.txt) in build-fuzz/ and runs
# them.
#
#   fuzz/run.sh check [target...]  each target over its seed corpus once; a
#                                  regression check of seconds (make test)
#   fuzz/run.sh fuzz [target...]   each target in turn for FUZZ_SECONDS
#                                  (default 180) at low priority (make fuzz)
#
# Fuzzing keeps what it learns in build-fuzz/corpus/<target>/ (the seeds in
# fuzz/corpus/<target>/ are read, never written), uses the tokens of
# fuzz/dict/<target>.dict, and writes crashing inputs
# to build-fuzz/findings/<target>/; replay one with
# `build-fuzz/<target> <file>`. Every run has an RSS limit (FUZZ_RSS_MB,
# default 2048) and a per-input time limit (FUZZ_TIMEOUT, default 10 s),
# so a runaway allocation or a hang is reported as a find; FUZZ_ARGS adds
# libFuzzer options (for example -max_len=16384).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="$root/build-fuzz"
all_targets=(stdio_loop note_file search_query links config)

mode="${1:-}"
[ $# -gt 0 ] && shift
case "$mode" in
  check|fuzz) ;;
  -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: fuzz/run.sh check|fuzz [target...]" >&2; exit 2 ;;
esac
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++-16 >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" -- --no-print-directory >/dev/null

limits=(-rss_limit_mb="${FUZZ_RSS_MB:-2048}" -timeout="${FUZZ_TIMEOUT:-10}")
status=0
for t in "${targets[@]}"; do
  seeds="$here/corpus/$t"
  if [ "$mode" = check ]; then
    if "$build/$t" "${limits[@]}" -runs=0 -artifact_prefix="$build/$t.check-" "$seeds" >"$build/$t.check.log" 2>&1; then
      echo "fuzz check $t: ok ($(ls "$seeds" | wc -l) inputs)"
    else
      echo "fuzz check $t: FAILED, see $build/$t.check.log" >&2
      status=1
    fi
    continue
  fi
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  log="$build/$t.fuzz.log"
  : >"$log"
  echo "fuzzing $t for ${FUZZ_SECONDS:-180} s (log: $log)"
  # A find (crash, hang, exhausted memory) ends a libFuzzer run; the loop
  # starts it again on the grown corpus until the time is spent.
  dict=()
  [ -f "$here/dict/$t.dict" ] && dict=(-dict="$here/dict/$t.dict")
  before=$(ls "$build/findings/$t" | wc -l)
  start=$SECONDS
  left=${FUZZ_SECONDS:-180}
  while [ "$left" -gt 0 ]; do
    nice -n "${FUZZ_NICE:-19}" "$build/$t" "${limits[@]}" -max_total_time="$left" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t/" "${dict[@]}" ${FUZZ_ARGS:-} \
      "$build/corpus/$t" "$seeds" >>"$log" 2>&1 || true
    left=$(( ${FUZZ_SECONDS:-180} - (SECONDS - start) ))
  done
  runs=$(awk '/^stat::number_of_executed_units/ {n += $2} END {print n + 0}' "$log")
  coverage=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+' || true)
  echo "  $t: $((SECONDS - start)) s, $runs inputs run, $coverage"
  found=$(( $(ls "$build/findings/$t" | wc -l) - before ))
  if [ "$found" -gt 0 ]; then
    echo "  $t: $found new failing input(s) in $build/findings/$t/" >&2
    status=1
  fi
done
exit $status
