#!/usr/bin/env bash
# The default server's run as Prometheus sees it: nicsim publishes the tree and dumps it,
# tessar-dump turns the dump into metrics, and promtool checks them (syntax and naming).
# Exit 77 (skipped) when promtool is not installed.
#   promtool-check.sh NICSIM TESSAR_DUMP WORK_DIR
set -euo pipefail
nicsim="$1" tessar_dump="$2" work="$3"
if ! command -v promtool >/dev/null; then
  echo "promtool is not installed (Debian package prometheus): skipped"
  exit 77
fi
mkdir -p "$work"
"$nicsim" --dump "$work/default.tree" >/dev/null
"$tessar_dump" --prometheus --output "$work/default.prom" "$work/default.tree"
leftovers=("$work"/default.prom.*)
[ ! -e "${leftovers[0]}" ] || { echo "the temporary file was left behind"; exit 1; }
promtool check metrics <"$work/default.prom"
# The default server carries traffic and one port has Ethernet errors.
grep -Eq '^crvnic_port_received_bytes_total\{[^}]*\} [1-9]' "$work/default.prom" ||
  { echo "no port received any bytes"; exit 1; }
grep -Eq '^crvnic_port_ethernet_errors_total\{[^}]*error="fcs"\} [1-9]' "$work/default.prom" ||
  { echo "no port counted an FCS error"; exit 1; }
grep -Eq '^crvnic_trap_records\{kind="connectivity_lost"\} [1-9]' "$work/default.prom" ||
  { echo "the pulled cable raised no trap record"; exit 1; }
echo "promtool check metrics: $(grep -vc '^#' "$work/default.prom") samples pass"
