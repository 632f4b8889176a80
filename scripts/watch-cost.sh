#!/usr/bin/env bash
# What the link state watch costs while nothing changes: nicsim runs a generated server (poll
# interval 2 minutes, the default) for MINUTES of virtual time under callgrind, with the watch
# on (notifications delivered: members watched), off (ImmediateUpdates = 0) and without
# notifications (silent: every port watched); prints the instructions of each whole run.
#
# usage: scripts/watch-cost.sh BUILD SIZE MINUTES     (BUILD: build/bench, after scripts/bench.sh)
#        MODES="on off" scripts/watch-cost.sh ...     only those runs
set -eu
b=$1; size=$2; min=$3
dir=$(mktemp -d)
"$b/bench/crv-bench-server" "$size" 120000 $((min*60000)) > $dir/on$size.json
python3 - "$dir/on$size.json" "$dir/off$size.json" "$dir/silent$size.json" <<'PY'
import json,sys
d=json.load(open(sys.argv[1]))
for r in d["registry"]:
    if r["key"].endswith("CRVNICS"):
        r["values"]["ImmediateUpdates"]={"type":"REG_DWORD","data":0}
json.dump(d,open(sys.argv[2],"w"))
d=json.load(open(sys.argv[1]))
d["interface_notifications"]={"mode":"silent"}
json.dump(d,open(sys.argv[3],"w"))
PY
for mode in ${MODES:-on off silent}; do
  ir=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$b/tools/nicsim/nicsim" $dir/$mode$size.json --duration ${min}m 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  echo "$size $mode $ir"
done
rm -rf "$dir"
