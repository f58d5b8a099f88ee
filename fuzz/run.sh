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
# fuzz/corpus/<target>/ are read, never written) and writes crashing inputs
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
  -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
    if "$build/$t" "${limits[@]}" -runs=0 "$seeds" >"$build/$t.check.log" 2>&1; then
      echo "fuzz check $t: ok ($(ls "$seeds" | wc -l) inputs)"
    else
      echo "fuzz check $t: FAILED, see $build/$t.check.log" >&2
      status=1
    fi
    continue
  fi
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  log="$build/$t.fuzz.log"
  echo "fuzzing $t for ${FUZZ_SECONDS:-180} s (log: $log)"
  # One child process at a time (fork mode), so that a crash, a hang or an
  # exhausted memory limit is recorded and the run goes on.
  before=$(ls "$build/findings/$t" | wc -l)
  nice -n "${FUZZ_NICE:-19}" "$build/$t" "${limits[@]}" -max_total_time="${FUZZ_SECONDS:-180}" \
    -fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
    -artifact_prefix="$build/findings/$t/" ${FUZZ_ARGS:-} \
    "$build/corpus/$t" "$seeds" >"$log" 2>&1 || true
  grep -E '^#[0-9]+: cov:' "$log" | tail -1 | sed 's/^/  /' || true
  found=$(( $(ls "$build/findings/$t" | wc -l) - before ))
  if [ "$found" -gt 0 ]; then
    echo "  $t: $found new failing input(s) in $build/findings/$t/" >&2
    status=1
  fi
done
exit $status
