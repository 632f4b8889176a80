#!/usr/bin/env bash
# The real service end to end on the Windows-shaped test machine (docs/testbed.md). Runs inside
# in-netns.sh and with-wine.sh, with WINEDLLOVERRIDES naming cfgmgr32=n,b (ctest's
# crv_windows_service_end_to_end entry):
#
#   tests/windows/in-netns.sh tests/windows/with-wine.sh tests/windows/testbed/service-run.sh BINDIR
#
# 1. The machine: addresses on veth1 and tap0, the registry seeded from the live interfaces as
#    Windows leaves it for PCI network adapters (machine.json), the host, the module and the
#    stand-in configuration manager copied to C:\Program Files\Corvane NIC\.
# 2. "-install" from there, a 30-second poll interval, "net start CRVNicMgmt"; the tree read with
#    tessar-dump.exe --json is checked against the namespace and the seeding (machine.py).
# 3. While it runs: an interface eth9 (a tap) added and seeded (Wine gives it no NDIS device) and veth1's
#    address changed; after the next poll the tree holds the new address and everything else as
#    before, and a debugger attached to the service saw it report the device it cannot open.
#    Every check reads a settled tree (wait_for_tree), never one a cycle is writing.
#    The service keeps the metrics file MetricsFile names; node_exporter's textfile collector
#    scrapes it (tests/tools/node-exporter-scrape.sh; skipped without node_exporter).
# 4. veth1 down (both ends of the pair lose their carrier) and up again: the ports' links fail
#    and come back, with a "connectivity lost" and a "connectivity regained" trap record for
#    each port (port, slot, PCI location checked) and the events' inserts printed by Wine's
#    ReportEventW.
# 5. "net stop": the service stops and the tree stays. "-uninstall": the service is gone.
# Every program has a time-out. The exit code is 0 when every step passed.
set -u

if [ $# -ne 1 ] || [ "${CRV_NETNS:-}" != 1 ] || [[ "${WINEDLLOVERRIDES:-}" != *cfgmgr32=n* ]] ||
  [[ "${WINEDLLOVERRIDES:-}" != *ndis.sys=n* ]] || [[ "${CRV_WINE_DRIVERS:-}" != *ndis.sys* ]]; then
  echo "usage: WINEDLLOVERRIDES='cfgmgr32=n,b;ndis.sys=n,b' CRV_WINE_DRIVERS=BINDIR/testbed/ndis.sys" \
    "CRV_WINE_SERVICES_DEBUG=-all,+eventlog in-netns.sh with-wine.sh $0 BINDIR" >&2
  exit 2
fi
bin="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$CRV_NETNS_DIR"
# shellcheck source=machine.sh
source "$here/machine.sh"

step "the machine"
install_dir="$WINEPREFIX/drive_c/Program Files/Corvane NIC"
image='C:\Program Files\Corvane NIC\crvnichost.exe'
mkdir -p "$install_dir"
cp "$bin/crvnichost.exe" "$bin/crvnicmgmt.dll" "$bin/testbed/cfgmgr32.dll" "$install_dir/"
prepare_machine

step "install and start"
win "$image" -install || fail "-install"
# Quoted, so that Windows never tries C:\Program.exe first.
image_path="$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\CRVNicMgmt' ImagePath)"
image_path="${image_path#REG_SZ }"
echo "ImagePath: $image_path"
[ "$image_path" = "\"$image\"" ] || fail "the image path is not the quoted path of the host"
win reg add 'HKLM\SYSTEM\CurrentControlSet\Services\CRVNicMgmt\CRVNICS' /v Timeout /t REG_DWORD \
  /d 30000 /f >/dev/null || fail "setting the poll interval"
metrics_dir="$WINEPREFIX/drive_c/ProgramData/crvnic-textfile"
mkdir -p "$metrics_dir"
win reg add 'HKLM\SYSTEM\CurrentControlSet\Services\CRVNicMgmt\CRVNICS' /v MetricsFile /t REG_SZ \
  /d 'C:\ProgramData\crvnic-textfile\crvnicmgmt.prom' /f >/dev/null || fail "setting MetricsFile"
win net start CRVNicMgmt || fail "net start CRVNicMgmt"
win sc query CRVNicMgmt | grep -q "RUNNING" || fail "the service is not running"

wait_for_tree 240 True first || fail "no settled tree within 240 s"
check_tree first

step "the metrics file, scraped by node_exporter"
# Written after every cycle: there once the tree is (bounded for a loaded machine).
for ((i = 0; i < 600; i++)); do
  [ -s "$metrics_dir/crvnicmgmt.prom" ] && break
  sleep 0.2
done
ls -l "$metrics_dir"
grep -q '^crvnic_port_up{' "$metrics_dir/crvnicmgmt.prom" || fail "no port in the metrics file"
"$here/../../tools/node-exporter-scrape.sh" "$metrics_dir/crvnicmgmt.prom" "$work/node-exporter"
case $? in 0 | 77) ;; *) fail "node_exporter's scrape of the metrics file" ;; esac

step "an interface added and an address changed while it runs"
# eth9 is seeded before veth1's address changes, so the rebuild that change causes is sure to
# list eth9's device (one the agent cannot open: Wine gives it no NDIS device). The debugger is
# attached before the change and watches until the agent names that device.
ip tuntap add dev eth9 mode tap
ip link set eth9 up
ip address add 10.77.9.9/24 dev eth9
seed eth9
eth9_guid="$(awk '$2 == "eth9" {print $3}' "$work/seeded.txt" | tail -1)"
[ -n "$eth9_guid" ] || fail "eth9 was not seeded"
timeout 300 wine "$bin/testbed/crv_testbed_debug_view.exe" CRVNicMgmt 240 "${eth9_guid:-no-guid}" \
  </dev/null >"$work/reports.txt" 2>"$work/viewer.err" &
viewer=$!
for ((i = 0; i < 240; i++)); do
  grep -q "^attached" "$work/viewer.err" 2>/dev/null && break
  kill -0 "$viewer" 2>/dev/null || break
  sleep 0.5
done
grep -q "^attached" "$work/viewer.err" || fail "the debugger could not attach: $(cat "$work/viewer.err")"
ip address del 10.77.1.2/24 dev veth1
ip address add 10.77.1.9/24 dev veth1
seed veth1
new_address='"10.77.1.9" in json.dumps(tree)'
wait_for_tree 240 "$new_address" second || fail "veth1's new address not published within 240 s"
wait "$viewer" || fail "the debugger did not see the agent name eth9's device ($eth9_guid)"
check_tree second --no-device eth9
echo "reports seen while eth9 was added:"
grep "CRVNicMgmt report" "$work/reports.txt" | sort | uniq -c
grep -qi "Detected change in interface table" "$work/reports.txt" ||
  fail "no rebuild reported after eth9 was added"
grep -qiF "${eth9_guid:-no-guid}" "$work/reports.txt" ||
  fail "the device eth9 ($eth9_guid) cannot have was not reported"

step "a cable pulled and plugged again while it runs"
# veth1 down takes the carrier from both ends of the pair: both ports lose their link, the
# stand-in NDIS driver answers "disconnected" from Linux, and the agent writes a trap record
# and a warning event for each; up again, a record and an information event for each.
ip link set veth1 down
wait_for_tree 240 "traps(11) >= 2" pulled || fail "no trap records within 240 s of the pull"
ip -json address show >"$work/ip-pulled.json"
python3 "$here/machine.py" traps "$work/pulled.json" "$here/machine.json" "$work/ip-pulled.json" \
  11 veth0 veth1 || fail "the trap records of the pulled cable"
ip link set veth1 up
wait_for_tree 240 "traps(12) >= 2" plugged || fail "no trap records within 240 s of the plug"
ip -json address show >"$work/ip-plugged.json"
python3 "$here/machine.py" traps "$work/plugged.json" "$here/machine.json" \
  "$work/ip-plugged.json" 12 veth0 veth1 || fail "the trap records of the plugged cable"
check_tree plugged --no-device eth9
python3 "$here/machine.py" events "$WINEPREFIX/services.log" "$here/machine.json" warn veth0 veth1 ||
  fail "the connectivity lost events"
python3 "$here/machine.py" events "$WINEPREFIX/services.log" "$here/machine.json" trace veth0 veth1 ||
  fail "the connectivity regained events"

step "stop and uninstall"
win net stop CRVNicMgmt || fail "net stop CRVNicMgmt"
win sc query CRVNicMgmt | grep -q "STOPPED" || fail "the service did not stop"
dump_tree stopped
python3 -c 'import json,sys; t=json.load(open(sys.argv[1])) or {}; sys.exit(0 if t.get("subkeys") else 1)' \
  "$work/stopped.json" || fail "the tree went with the service"
# A stopped service is not uninstalled: the stop request fails and the registration stays.
uninstall_stopped="$(win "$image" -uninstall 2>&1)"
echo "$uninstall_stopped"
grep -qF "CRVNicMgmt: ControlService failed: 1062" <<<"$uninstall_stopped" ||
  fail "-uninstall of the stopped service"
win sc query CRVNicMgmt >/dev/null 2>&1 || fail "the stopped service's registration went"
win net start CRVNicMgmt >/dev/null || fail "net start CRVNicMgmt again"
win "$image" -uninstall || fail "-uninstall"
if win sc query CRVNicMgmt >/dev/null 2>&1; then fail "the service is still registered"; fi

step "done: $([ $failed = 0 ] && echo passed || echo FAILED)"
exit $failed
