#!/usr/bin/env bash
# tessar-dump.exe --prometheus on a live tree under Wine: the default server's published tree
# (a dump nicsim wrote, tests/tools/data/default.tree) is imported into Wine's registry under
# HKLM\SYSTEM\TessarNetwork; the metrics read from the live registry must equal those read
# from the dump, --output must replace an existing file through a temporary file of its own,
# and promtool (when installed) must accept them. Runs inside with-wine.sh.
#   wine-live-metrics.sh TESSAR_DUMP_EXE WORK_DIR
set -euo pipefail
exe="$1" work="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
fail() { echo "FAIL: $*"; exit 1; }
[ -n "${WINEPREFIX:-}" ] || { echo "not inside with-wine.sh: skipped"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
win() { winepath -w "$1"; }

python3 "$here/dump-to-reg.py" "$here/data/default.tree" "$work/tree.reg"
wine reg delete 'HKLM\SYSTEM\TessarNetwork' /f >/dev/null 2>&1 || true
wine reg import "$(win "$work/tree.reg")" >/dev/null 2>&1 || fail "reg import"
trap 'wine reg delete "HKLM\\SYSTEM\\TessarNetwork" /f >/dev/null 2>&1 || true' EXIT

wine "$exe" --prometheus >"$work/live.prom" 2>"$work/live.err" || fail "live read: $(cat "$work/live.err")"
wine "$exe" --prometheus "$(win "$here/data/default.tree")" >"$work/dump.prom" ||
  fail "dump read"
grep -q '^crvnic_port_up{' "$work/live.prom" || fail "no port in the live metrics"
! grep -q $'\r' "$work/live.prom" || fail "carriage returns in the metrics"
cmp "$work/live.prom" "$work/dump.prom" || fail "the live tree's metrics differ from the dump's"

echo old >"$work/out.prom"
wine "$exe" --prometheus --output "$(win "$work/out.prom")" || fail "--output"
cmp "$work/live.prom" "$work/out.prom" || fail "--output did not replace the file"
leftovers=("$work"/out.prom.*)
[ ! -e "${leftovers[0]}" ] || fail "the temporary file was left behind"

if command -v promtool >/dev/null; then
  promtool check metrics <"$work/live.prom" || fail "promtool check metrics"
fi
echo "live tree under Wine: $(grep -vc '^#' "$work/live.prom") samples, equal to the dump's"
