#!/usr/bin/env bash
# Builds nicsim if needed and runs the agent on the built-in simulated server (or on the
# scenario file given), showing what it publishes. Arguments go to nicsim (see --help).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh linux
if [ ! -f build/linux/CMakeCache.txt ]; then
  cmake --preset linux >/dev/null
fi
cmake --build build/linux --target nicsim -j2 >/dev/null
if [ $# -eq 0 ]; then
  set -- --trace
fi
exec build/linux/tools/nicsim/nicsim "$@"
