#!/usr/bin/env bash
# The performance figures of docs/performance.md in one command, on generated servers of 4, 64,
# 512 and 4096 managed interfaces:
#   1. CPU time of a build, a publication cycle and a change test (Google Benchmark), also
#      per managed interface;
#   2. instructions of the same steps counted with callgrind, per managed interface, in all
#      and the agent's own part (scripts/callgrind-cycle.sh), and the growth of the agent's
#      part per interface from 64 to the largest size;
#   3. the elapsed time, CPU time and peak resident memory of nicsim running each server (a
#      build and three cycles).
# Everything is built in build/bench (CRV_BUILD_BENCH=ON).
#
# usage: scripts/bench.sh [-s "SIZES"] [-n] [-l STEPS]
#   -n  leave out callgrind (the slowest part)
#   -l  count only these steps under callgrind at the largest size (first,build,cycle,change)
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
  # Each step at the largest size it was counted at against 64: the total (simulated machine
  # included) and the agent's own part, per interface.
  awk 'NR > 1 { total[$1, $2] = $6; agent[$1, $2] = $7; if ($1 > top[$2]) top[$2] = $1 }
       END {
         split("build cycle first change", steps, " ")
         for (i = 1; i <= 4; ++i) {
           step = steps[i]
           if (!((64, step) in agent) || top[step] <= 64) continue
           t = top[step]
           printf "instructions per interface, %s: total %d at %d, %d at 64, ratio %.2f;" \
                  " agent %d at %d, %d at 64, ratio %.2f\n",
                  step, total[t, step], t, total[64, step], total[t, step] / total[64, step],
                  agent[t, step], t, agent[64, step], agent[t, step] / agent[64, step]
         }
       }' "$build/instructions.txt"
fi

echo
echo "== nicsim: a build and three cycles of two minutes, time and peak resident memory =="
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-6s %10s %10s %12s\n" size "elapsed s" "CPU s" "peak MiB"
for size in $sizes; do
  scenario="$build/server-$size.json"
  "$build/bench/crv-bench-server" "$size" 120000 370000 >"$scenario"
  read -r elapsed user system kib < <( { /usr/bin/time -f "%e %U %S %M" \
      "$build/tools/nicsim/nicsim" "$scenario" >/dev/null; } 2>&1 | tail -1)
  awk -v size="$size" -v e="$elapsed" -v u="$user" -v s="$system" -v kib="$kib" \
    'BEGIN { printf "%-6d %10.2f %10.2f %12.1f\n", size, e, u + s, kib / 1024 }'
done
