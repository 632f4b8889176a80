#!/usr/bin/env bash
# nicsim given hostile input: it must refuse what it cannot run with a message that says where
# (exit 2, never a crash nor a run without end), and print outside text without its control
# characters, so that a scenario cannot drive the terminal.
#   nicsim-hostile.sh NICSIM DEFAULT_SCENARIO WORK_DIR
set -uo pipefail
nicsim="$1" default="$2" work="$3"
mkdir -p "$work"
failed=0
# Expects exit 2 with the text on standard error.
refused() {
  local what="$1" text="$2"
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" -ne 2 ] || ! grep -qF -- "$text" "$work/err"; then
    echo "$what: exit $status, stderr: $(head -c 400 "$work/err")"
    failed=1
  fi
}

refused "a duration beyond 64 bits" "at most 31 days" "$nicsim" --duration 99999999999999999999
refused "a duration of 32 days" "at most 31 days" "$nicsim" --duration 768h

printf '{\n  "description": "x",\n  "adapters": [ }\n' >"$work/invalid.json"
refused "invalid JSON" "not valid JSON at line 3, column 17" "$nicsim" "$work/invalid.json"

python3 - "$work/deep.json" <<'PY'
import json, sys
json.dump({"registry": [{"key": "SYSTEM\\" + "\\".join(["k"] * 300000)}]}, open(sys.argv[1], "w"))
PY
refused "a key 300,000 levels deep" "registry[0].key: 300001 levels deep, beyond 512" \
  "$nicsim" "$work/deep.json"
python3 - "$work/long-name.json" <<'PY'
import json, sys
json.dump({"registry": [{"key": "SYSTEM\\" + "n" * 256}]}, open(sys.argv[1], "w"))
PY
refused "a key name of 256 characters" "a key name of 256 characters at level 2, beyond 255" \
  "$nicsim" "$work/long-name.json"

# A refusal is one line however the names it repeats are made.
python3 - "$work/names.json" <<'PY'
import json, sys
json.dump({"registry": [{"key": "SYSTEM", "values": {"a\x1b[2J\nb": {"type": "REG_\x9b1m"}}}]},
          open(sys.argv[1], "w"))
PY
refused "control characters in a refused name" \
  'registry[0].values.a\x1B[2J\x0Ab.type: unknown registry type "REG_\u009B1m"' \
  "$nicsim" "$work/names.json"
if [ "$(wc -l <"$work/err")" -ne 1 ]; then
  echo "the refusal is not one line: $(head -c 400 "$work/err")"
  failed=1
fi

# Control characters in an adapter's texts reach the interface table, the ports, the traps and
# the events: none reaches the terminal raw.
python3 - "$default" "$work/escapes.json" <<'PY'
import json, sys
scenario = json.load(open(sys.argv[1]))
for adapter in scenario["adapters"]:
    adapter["description"] = "\x1b[2J\x07" + adapter["description"] + "\r"
scenario["description"] = "escapes\x1b]0;title\x07\x9b"
json.dump(scenario, open(sys.argv[2], "w"))
PY
"$nicsim" "$work/escapes.json" --events --trace >"$work/out" 2>"$work/err"
status=$?
if [ "$status" -ne 0 ]; then
  echo "the scenario with control characters: exit $status, $(head -c 400 "$work/err")"
  failed=1
elif LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]\\|\xc2[\x80-\x9f]' "$work/out"; then
  echo "a control character reached the output:"
  LC_ALL=C grep -n $'[\x01-\x08\x0b-\x1f\x7f]\\|\xc2[\x80-\x9f]' "$work/out" | head -3 | cat -v
  failed=1
elif ! grep -qF '\x1B[2J\x07Intel' "$work/out" || ! grep -qF 'title\x07\u009B' "$work/out"; then
  echo "the escaped description is not shown"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "every hostile input is refused or shown escaped"
exit "$failed"
