#!/usr/bin/env bash
# Instructions of the first publication cycle of the process, a build, a later publication
# cycle and a change test on generated servers, counted with callgrind (independent of the
# machine's load), per managed interface: the total, and the agent's own part, which is the
# total less the inclusive cost of every call the agent makes into the simulated machine
# (functions of namespace sim).
#
# usage: scripts/callgrind-cycle.sh [-b BUILD_DIR] [-c CYCLES] [-k DIR] [-s STEPS] [SIZE...]
#   BUILD_DIR  a build with CRV_BUILD_BENCH=ON (default build/bench); SIZE default 4 64 512 4096
#   DIR        keep the callgrind dumps there (for callgrind_annotate)
#   STEPS      the steps to count, comma-separated (default first,build,cycle,change); the
#              others run uninstrumented, at a fraction of the time
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/bench
cycles=2
keep=
steps=first,build,cycle,change
while getopts "b:c:k:s:" opt; do
  case $opt in
    k) keep=$OPTARG ;;
    b) build=$OPTARG ;;
    c) cycles=$OPTARG ;;
    s) steps=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(4 64 512 4096)
program=$build/bench/crv-count-instructions
[ -x "$program" ] || { echo "no $program: configure with -DCRV_BUILD_BENCH=ON and build" >&2; exit 1; }

# Prints "total sim" for one callgrind dump: calls from a function outside namespace sim
# into one inside it count with their inclusive cost as the simulated machine's.
split_costs() {
  awk '
    function name(spec,   id, rest) {
      # "(id) name" defines an id, "(id)" refers to it
      if (match(spec, /^\([0-9]+\)/)) {
        id = substr(spec, 2, RLENGTH - 2)
        rest = substr(spec, RLENGTH + 2)
        if (rest != "") names[id] = rest
        return names[id]
      }
      return spec
    }
    function is_sim(n) { return n ~ /(^|[^A-Za-z0-9_])sim::/ }
    /^totals:/ { total = $2 }
    /^fn=/ { caller = name(substr($0, 4)); next }
    /^cfn=/ { callee = name(substr($0, 5)); next }
    /^calls=/ { pending = 1; next }
    /^[0-9+*-]/ {
      if (pending && !is_sim(caller) && is_sim(callee)) sim += $2
      pending = 0
    }
    END { printf "%.0f %.0f\n", total, sim }
  ' "$1"
}

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  workdir=$keep
else
  workdir=$(mktemp -d)
  trap 'rm -rf "$workdir"' EXIT
fi
printf "%-6s %-7s %14s %14s %14s %12s %12s\n" size step total sim agent "total/if" "agent/if"
for size in "${sizes[@]}"; do
  out=$workdir/cg.$size
  rm -f "$out".*
  valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no \
    --callgrind-out-file="$out.%p" "$program" "$size" "$cycles" "$steps" >/dev/null 2>"$workdir/log.$size" ||
    { cat "$workdir/log.$size" >&2; exit 1; }
  for dump in "$out".*.[0-9]; do
    step=$(sed -n 's/^desc: Trigger: Client Request: //p' "$dump")
    read -r total sim < <(split_costs "$dump")
    repeat=1
    [ "$step" = cycle ] && repeat=$cycles
    awk -v size="$size" -v step="$step" -v total="$total" -v sim="$sim" -v r="$repeat" 'BEGIN {
      agent = total - sim
      printf "%-6d %-7s %14.0f %14.0f %14.0f %12.0f %12.0f\n", size, step, total / r, sim / r,
             agent / r, total / r / size, agent / r / size }'
  done
done
