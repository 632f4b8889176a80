#!/usr/bin/env bash
# The Windows tests that need interfaces of their own. Runs inside in-netns.sh and with-wine.sh
# (ctest's crv_windows_netns entry):
#
#   tests/windows/in-netns.sh tests/windows/with-wine.sh tests/windows/netns-steps.sh BINDIR
#
# 1. crv_netns_tests.exe: the interface table's change test after interfaces are removed.
# 2. The tree's keys are volatile: a tree left published, which tessar-dump.exe reads back, is
#    gone once the wine server has ended and started again, while an ordinary key written at
#    the same time is still there.
# Every program has a time-out. The exit code is 0 when every step passed.
set -u

if [ $# -ne 1 ] || [ "${CRV_NETNS:-}" != 1 ]; then
  echo "usage: in-netns.sh with-wine.sh $0 BINDIR" >&2
  exit 2
fi
bin="$1"
failed=0

fail() {
  echo "FAILED: $*" >&2
  failed=1
}

# A Windows program, with a time-out and no input.
win() { timeout 120 wine "$@" </dev/null; }

echo "== crv_netns_tests.exe"
timeout 300 wine "$bin/crv_netns_tests.exe" </dev/null || fail "crv_netns_tests.exe"

echo "== published keys go with the wine server"
if ! win "$bin/crv_netns_tests.exe" --gtest_also_run_disabled_tests \
    --gtest_filter=NetnsTest.DISABLED_LeaveTreePublished; then
  fail "leaving a published tree"
fi
before="$(win "$bin/tessar-dump.exe")"
printf '%s\n' "$before"
for expected in "[SYSTEM\\TessarNetwork]" "InterfaceData_Ready = 1" "MIB header record"; do
  grep -qF "$expected" <<<"$before" || fail "tessar-dump.exe before the restart: no \"$expected\""
done

# Ending the server saves the registry to the prefix and drops the volatile keys; the next
# server loads what was saved.
wineserver -k
timeout 60 wineserver -w || fail "the wine server did not end"
wineserver -p </dev/null >/dev/null 2>&1

after="$(win "$bin/tessar-dump.exe")"
printf '%s\n' "$after"
grep -qF "HKEY_LOCAL_MACHINE\\SYSTEM\\TessarNetwork holds no tree" <<<"$after" ||
  fail "tessar-dump.exe after the restart: the tree is still there"
win reg query 'HKLM\SOFTWARE\CrvNetnsControl' >/dev/null 2>&1 ||
  fail "the ordinary key written beside the tree did not survive the restart"

exit $failed
