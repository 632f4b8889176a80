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
# usage: scripts/bench.sh [-s "SIZES"] [-n] [-l STEPS]
#   -n  leave out callgrind (the slowest part)
#   -l  count only these steps under callgrind at the largest size (first,build,cycle,change);
#       its build alone takes about three quarters of an hour at 4096 interfaces
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="4 64 512 4096"
callgrind=1
largest_steps=first,build,cycle,change
while getopts "s:nl:" opt; do
  case $opt in
    s) sizes=$OPTARG ;;
    n) callgrind=0 ;;
    l) largest_steps=$OPTARG ;;
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
  largest=$(echo "$sizes" | tr ' ' '\n' | sort -n | tail -1)
  smaller=$(echo "$sizes" | tr ' ' '\n' | sort -n | sed '$d' | tr '\n' ' ')
  {
    # shellcheck disable=SC2086
    [ -z "$smaller" ] || scripts/callgrind-cycle.sh -b "$build" $smaller
    scripts/callgrind-cycle.sh -b "$build" -s "$largest_steps" "$largest" |
      if [ -z "$smaller" ]; then cat; else tail -n +2; fi
  } | tee "$build/instructions.txt"
  # Each step at the largest size it was counted at against 64.
  awk 'NR > 1 { agent[$1, $2] = $7; if ($1 > top[$2]) top[$2] = $1 }
       END {
         split("build cycle first change", steps, " ")
         for (i = 1; i <= 4; ++i) {
           step = steps[i]
           if (!((64, step) in agent) || top[step] <= 64) continue
           printf "agent instructions per interface, %s: %d at %d, %d at 64, ratio %.2f\n",
                  step, agent[top[step], step], top[step], agent[64, step],
                  agent[top[step], step] / agent[64, step]
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
