#!/usr/bin/env bash
# The performance figures of docs/performance.md in one command, on generated servers of 4, 64,
# 512 and 4096 managed interfaces:
#   1. CPU time of a build, a publication cycle and a change test (Google Benchmark), also
#      per managed interface;
#   2. instructions of the same steps counted with callgrind, per managed interface, in all
#      and the agent's own part (scripts/callgrind-cycle.sh), and the growth of the agent's
#      part per interface from 64 to the largest size;
#   3. the peak resident memory of nicsim running each server (a build and three cycles).
# Everything is built in build/bench (CRV_BUILD_BENCH=ON). The larger servers take long: the
# simulated machine's own work grows faster than the number of interfaces (see the doc).
#
# usage: scripts/bench.sh [-s "SIZES"] [-n]     -n: leave out callgrind (the slowest part)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="4 64 512 4096"
callgrind=1
while getopts "s:n" opt; do
  case $opt in
    s) sizes=$OPTARG ;;
    n) callgrind=0 ;;
    *) exit 2 ;;
  esac
done
build=build/bench

echo "== build ($build) =="
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCRV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target crv-bench crv-count-instructions crv-bench-server nicsim
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

echo
echo "== CPU time (Google Benchmark; cpu_per_if: CPU time per managed interface) =="
filter="/($(echo "$sizes" | tr ' ' '|'))\$"
"$build/bench/crv-bench" --benchmark_filter="$filter" --benchmark_min_time=0.5 \
  --benchmark_out="$build/cpu-time.json" --benchmark_out_format=json

if [ "$callgrind" = 1 ]; then
  echo
  echo "== instructions (callgrind) =="
  # shellcheck disable=SC2086
  scripts/callgrind-cycle.sh -b "$build" $sizes | tee "$build/instructions.txt"
  awk 'NR > 1 { agent[$1, $2] = $7; if ($1 > largest) largest = $1 }
       END {
         if (!((64, "build") in agent) || largest <= 64) exit
         for (i = 0; i < 4; ++i) {
           step = i == 0 ? "build" : i == 1 ? "cycle" : i == 2 ? "first" : "change"
           printf "agent instructions per interface, %s: %d at %d, %d at 64, ratio %.2f\n",
                  step, agent[largest, step], largest, agent[64, step],
                  agent[largest, step] / agent[64, step]
         }
       }' "$build/instructions.txt"
fi

echo
echo "== nicsim peak resident memory (a build and three cycles of two minutes) =="
printf "%-6s %12s\n" size "peak MiB"
for size in $sizes; do
  scenario="$build/server-$size.json"
  "$build/bench/crv-bench-server" "$size" 120000 370000 >"$scenario"
  kib=$( { /usr/bin/time -f "%M" "$build/tools/nicsim/nicsim" "$scenario" >/dev/null; } 2>&1 |
         tail -1)
  awk -v size="$size" -v kib="$kib" 'BEGIN { printf "%-6d %12.1f\n", size, kib / 1024 }'
done
