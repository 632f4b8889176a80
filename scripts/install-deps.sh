#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for building and testing (as root, apt-get).
# Usage: scripts/install-deps.sh [linux|all]   linux: enough for ./run.sh; all: everything.
set -euo pipefail
want=(cmake make g++ libgtest-dev libgmock-dev googletest nlohmann-json3-dev clang-format git)
if [ "${1:-all}" = all ]; then
  want+=(mingw-w64 wine wine64 binutils-mingw-w64-x86-64 clang libclang-rt-dev libbenchmark-dev valgrind
         iproute2 util-linux time python3)
  # The Windows Installer package: wixl builds it, msitools' msibuild and msiinfo finish it.
  want+=(wixl msitools)
fi
missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # With recommends, as Wine was measured here (its libraries come as recommends).
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# promtool, which checks tessar-dump's metrics, comes with the Prometheus server package;
# without recommends it brings nothing else that runs.
if [ "${1:-all}" = all ] && ! command -v promtool >/dev/null; then
  echo "installing: prometheus (for promtool)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends prometheus >/dev/null
fi
# node_exporter's textfile collector scrapes the metrics file the service writes, as a site
# that collects textfiles does.
if [ "${1:-all}" = all ] && ! command -v prometheus-node-exporter >/dev/null; then
  echo "installing: prometheus-node-exporter"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends prometheus-node-exporter >/dev/null
fi
