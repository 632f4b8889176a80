#!/usr/bin/env bash
# Installs what is missing, checks the formatting and the include rules, builds both presets
# (Linux on the simulated server, Windows with mingw-w64) and runs every test: the Linux suites natively, the Windows ones under Wine; then
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

stage "format check" "Formatting (clang-format)"
scripts/check-format.sh

stage "include check" "Include rules"
scripts/check-includes.py

stage "Linux build" "Linux build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2
stage "Linux suites"
ctest --preset linux -j2

stage "Windows build" "Windows build and tests (under Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
# The Wine suites spend most of their time waiting for Wine (a service start, a poll interval),
# so the sanitizer build runs beside them; its output is shown if it fails. The Wine suites wait
# for states, not times, so a busy machine slows them down but does not fail them.
stage "Wine suites, sanitizer build beside them"
cmake --preset asan >/dev/null
asan_log=build/asan-build.log
setsid cmake --build --preset asan -j2 >"$asan_log" 2>&1 &
asan_build=$!
trap 'kill -- -"$asan_build" 2>/dev/null || true' EXIT  # a failed Wine suite leaves no build behind
tests/windows/with-wine.sh ctest --preset windows
stage "sanitizer build, the rest" \
  "Linux tests under AddressSanitizer, LeakSanitizer and UBSan (fault sweep included)"
trap - EXIT
if ! wait "$asan_build"; then
  cat "$asan_log"
  echo "test.sh: the sanitizer build failed" >&2
  exit 1
fi
tail -n 1 "$asan_log"
stage "sanitizer suites"
ctest --preset asan -j2

stage "fuzz build and runs" "Fuzz targets, short runs"
scripts/fuzz-smoke.sh
report_stages
