#!/usr/bin/env bash
# tessar-dump's output sent to a full disk: the failed write must end it with a message and
# a non-zero exit, whether the text fits the output buffer (the failure shows at the flush) or
# not (it shows at the write). Exit 77 (skipped) without /dev/full.
#   stdout-full.sh TESSAR_DUMP WORK_DIR
set -uo pipefail
tessar_dump="$1" work="$2"
[ -w /dev/full ] || { echo "no /dev/full: skipped"; exit 77; }
mkdir -p "$work"
printf 'key "SYSTEM\\\\TessarNetwork" volatile\nvalue "Status" 4 01000000\n' >"$work/small.tree"
{
  printf 'key "SYSTEM\\\\TessarNetwork" volatile\n'
  for i in $(seq 1 2000); do printf 'value "Other%d" 3 00112233445566778899\n' "$i"; done
} >"$work/large.tree"
failed=0
for tree in small large; do
  for format in "" --json --prometheus; do
    "$tessar_dump" $format "$work/$tree.tree" >/dev/full 2>"$work/stderr"
    status=$?
    if [ "$status" -eq 0 ] || ! grep -q "cannot write to standard output" "$work/stderr"; then
      echo "$tree tree ${format:-(table)}: exit $status, stderr: $(cat "$work/stderr")"
      failed=1
    fi
  done
done
[ "$failed" -eq 0 ] && echo "every failed write to standard output is reported"
exit "$failed"
