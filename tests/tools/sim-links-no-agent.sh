#!/usr/bin/env bash
# Fails when the simulated server's library (crvsim) holds or needs agent code: a symbol it
# leaves to the linker that the agent's library (crvcore) defines, a crv:: definition of its
# own (code compiled in from the agent's headers), or the agent's entry point. The agent is
# run on the simulated server only through the harness library.
# usage: sim-links-no-agent.sh LIBCRVSIM LIBCRVCORE
set -euo pipefail
sim=$1
core=$2
symbols() { sed -n 's/^[0-9a-f]* [A-Za-z] //p' | sort -u; }
core_defined=$(nm -C --defined-only "$core" 2>/dev/null | symbols)
sim_needs=$(nm -C --undefined-only "$sim" 2>/dev/null | sed -n 's/^ *U //p' | sort -u)
sim_defined=$(nm -C --defined-only "$sim" 2>/dev/null | symbols)
failed=0
from_core=$(comm -12 <(echo "$core_defined") <(echo "$sim_needs"))
if [ -n "$from_core" ]; then
  echo "crvsim needs what the agent's library defines:"
  echo "$from_core"
  failed=1
fi
own=$(echo "$sim_defined" | grep -E '(^|[^A-Za-z_])crv::|Win2KMain' || true)
if [ -n "$own" ]; then
  echo "crvsim defines agent symbols:"
  echo "$own"
  failed=1
fi
if grep -q Win2KMain <<<"$sim_needs"; then
  echo "crvsim calls Win2KMain"
  failed=1
fi
[ "$failed" = 0 ] && echo "crvsim: no agent symbol ($(wc -l <<<"$sim_needs") symbols needed, none from crvcore)"
exit "$failed"
