#!/usr/bin/env bash
# Installs what is missing, builds both presets (Linux on the simulated server, Windows with
# mingw-w64) and runs every test: the Linux suites natively, the Windows ones under Wine; then
# the Linux suites again under AddressSanitizer, LeakSanitizer and UBSan (the fault sweep
# included), and a short run of every libFuzzer target.
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

echo "== Linux tests under AddressSanitizer, LeakSanitizer and UBSan (fault sweep included) =="
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan -j2

echo "== Fuzz targets, short runs =="
scripts/fuzz-smoke.sh
