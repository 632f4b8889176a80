#!/usr/bin/env bash
# The stand-in NDIS driver's test (ndis_stand_in_test.cc) in two runs, inside in-netns.sh and
# with-wine.sh with the driver installed (ctest's crv_windows_testbed_ndis_stand_in entry):
#
#   in-netns.sh with-wine.sh ndis-stand-in-run.sh cmake/wine-run.sh TEST.exe
#
# First every answer for the interfaces present when the driver started; then the driver is
# told to watch for interfaces (WatchInterfaces = 1), a tap eth7 is added, and the second run
# waits for eth7's device and asks it. The exit code is 0 when both runs passed.
set -u
if [ $# -ne 2 ] || [ "${CRV_NETNS:-}" != 1 ]; then
  echo "usage: in-netns.sh with-wine.sh $0 WINE-RUN TEST.exe" >&2
  exit 2
fi
wine_run="$1"
test_exe="$2"

"$wine_run" "$test_exe" --gtest_filter=-*LateInterface* || exit 1
timeout 120 wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\NDIS\Parameters' \
  /v WatchInterfaces /t REG_DWORD /d 1 /f </dev/null >/dev/null || exit 1
ip tuntap add dev eth7 mode tap || exit 1
ip link set eth7 up || exit 1
CRV_LATE_INTERFACE=eth7 "$wine_run" "$test_exe" --gtest_filter=*LateInterface*
