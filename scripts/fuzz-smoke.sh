#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, instrumented throughout) and runs each
# one over its seed corpus (fuzz/corpus/<target without _fuzz>) and then on generated inputs
# for a bounded number of runs. New inputs go to a scratch directory, never into the repo.
#
# Usage: scripts/fuzz-smoke.sh [RUNS] [TARGET...]
#   RUNS     inputs per target, seeds included (default 2000; FUZZ_RUNS also sets it); each
#            target stops after 10 seconds in any case, so the whole run stays near a minute
#   TARGET   only these targets (default: every target the build lists)
#   FUZZ_BUILD_DIR  build directory (default build/fuzz)
#   FUZZ_SECONDS    run each target for this many seconds instead of a number of runs (a long
#                   run); FUZZ_KEEP=DIR keeps each target's grown corpus under DIR/<target>
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-${FUZZ_RUNS:-2000}}
shift || true
dir=${FUZZ_BUILD_DIR:-build/fuzz}

cmake --preset fuzz -B "$dir" >/dev/null
cmake --build "$dir" --target crv_fuzz_targets -j2

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(grep -v '^$' "$dir/fuzz/targets.txt")
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
printf '%-26s %10s %10s %8s %s\n' target inputs exec/s seconds result
for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${target%_fuzz}
  grown=$scratch/$target
  [ -n "${FUZZ_KEEP:-}" ] && grown=$FUZZ_KEEP/$target
  mkdir -p "$grown"
  if [ -n "${FUZZ_SECONDS:-}" ]; then
    limit=(-max_total_time="$FUZZ_SECONDS")
  else
    limit=(-runs="$runs" -max_total_time=10)
  fi
  log=$scratch/$target.log
  start=$(date +%s)
  if "$dir/fuzz/$target" "${limit[@]}" -seed=1 -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$scratch/$target-" \
      "$grown" "$seeds" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  seconds=$(( $(date +%s) - start ))
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-26s %10s %10s %8s %s\n' "$target" "${inputs:-?}" "${speed:-?}" "$seconds" "$result"
  if [ "$result" = FAILED ]; then
    tail -40 "$log"
    for crash in "$scratch/$target"-*; do
      [ -e "$crash" ] && mkdir -p build/fuzz-artifacts && cp "$crash" build/fuzz-artifacts/ &&
        echo "kept $crash in build/fuzz-artifacts/"
    done
  fi
done
exit $status
