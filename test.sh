#!/usr/bin/env bash
# Installs what is missing, builds both presets (Linux on the simulated server, Windows with
# mingw-w64) and runs every test: the Linux suites natively, the Windows ones under Wine; then
# the Linux suites again under AddressSanitizer, LeakSanitizer and UBSan (the fault sweep
# included), and a short run of every libFuzzer target. Ends with the time each stage took.
set -euo pipefail
cd "$(dirname "$0")"

stage_names=()
stage_seconds=()
stage_started=$SECONDS
# Ends the running stage (if any) and starts the one named.
stage() {
  if [ ${#stage_names[@]} -gt 0 ]; then stage_seconds+=($((SECONDS - stage_started))); fi
  stage_names+=("$1")
  stage_started=$SECONDS
  [ -z "${2:-}" ] || echo "== $2 =="
}
report_stages() {
  stage_seconds+=($((SECONDS - stage_started)))
  local total=$((SECONDS > 0 ? SECONDS : 1))
  echo "== Time per stage (${SECONDS} s in all) =="
  for i in "${!stage_names[@]}"; do
    printf '%-28s %5d s %4d %%\n' "${stage_names[$i]}" "${stage_seconds[$i]}" \
      $((100 * stage_seconds[i] / total))
  done
}

stage "package install"
scripts/install-deps.sh all

stage "Linux build" "Linux build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2
stage "Linux suites"
ctest --preset linux -j2

stage "Windows build" "Windows build and tests (under Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
stage "Wine suites"
tests/windows/with-wine.sh ctest --preset windows

stage "sanitizer build" \
  "Linux tests under AddressSanitizer, LeakSanitizer and UBSan (fault sweep included)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
stage "sanitizer suites"
ctest --preset asan -j2

stage "fuzz build and runs" "Fuzz targets, short runs"
scripts/fuzz-smoke.sh
report_stages
