#!/usr/bin/env bash
# How long tessar-dump takes to read and print hostile dumps: one key holding 40,000 values,
# and one key holding 50,000 subkeys of one value each (times TIMES, 1 by default, to see how
# the cost grows). A measurement, not a test: run it by hand after a change to the dump
# reader or the decoder (docs/performance.md).
#   tessar-dump-scale.sh TESSAR_DUMP [WORK_DIR] [TIMES]
set -euo pipefail
tessar_dump="$1" work="${2:-/tmp/tessar-dump-scale}" times="${3:-1}"
mkdir -p "$work"
awk -v n=$((40000 * times)) 'BEGIN {
  print "key \"SYSTEM\\\\TessarNetwork\" volatile"
  for (i = 0; i < n; i++) printf "value \"Value%06d\" 4 %08x\n", i, i
}' >"$work/values.tree"
awk -v n=$((50000 * times)) 'BEGIN {
  print "key \"SYSTEM\\\\TessarNetwork\" volatile"
  for (i = 0; i < n; i++) {
    printf "key \"SYSTEM\\\\TessarNetwork\\\\Key%06d\" volatile\n", i
    print "value \"Status\" 4 01000000"
  }
}' >"$work/keys.tree"
# CPU time as well as elapsed time: the machine may be shared.
TIMEFORMAT='%2R s elapsed, %2U s user, %2S s system'
for tree in values keys; do
  for format in "" --prometheus; do
    printf '%-7s %-13s ' "$tree" "${format:-(table)}"
    { time "$tessar_dump" $format "$work/$tree.tree" >/dev/null; } 2>&1
  done
done
