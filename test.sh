#!/usr/bin/env bash
# Installs what is missing, builds both presets (Linux on the simulated server, Windows with
# mingw-w64) and runs every test: the Linux suites natively, the Windows ones under Wine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh all

echo "== Linux build and tests =="
cmake --preset linux >/dev/null
cmake --build --preset linux -j2
ctest --preset linux -j2

echo "== Windows build and tests (under Wine) =="
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
tests/windows/with-wine.sh ctest --preset windows
