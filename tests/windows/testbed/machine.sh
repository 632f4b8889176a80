# The test machine's steps shared by the runs on it (service-run.sh, msi-run.sh), sourced by
# them inside in-netns.sh and with-wine.sh. Needs: bin (the Windows build's bin directory),
# here (this directory) and work (the run's scratch directory). fail() marks the run failed.

failed=0
started=$SECONDS

fail() {
  echo "FAILED: $*" >&2
  failed=1
}
step() { echo "== $* ($((SECONDS - started)) s)"; }
win() { timeout 120 wine "$@" </dev/null; }

# The machine: addresses on veth1 and tap0, and the registry seeded from the live interfaces
# as Windows leaves it for PCI network adapters (machine.json).
prepare_machine() {
  ip address add 10.77.1.2/24 dev veth1
  ip address add 10.77.2.3/24 dev tap0
  seed veth0 veth1 tap0
}

seed() {
  local args=()
  mapfile -d '' args < <(python3 "$here/machine.py" seed-args "$here/machine.json" "$@")
  win "$bin/testbed/crv_testbed_seed.exe" "${args[@]}" | tee -a "$work/seeded.txt"
  [ "${PIPESTATUS[0]}" = 0 ] || fail "seeding $*"
}

dump_tree() {
  win "$bin/tessar-dump.exe" --json >"$work/$1.json" 2>"$work/$1.err" ||
    { fail "tessar-dump.exe --json ($1)"; cat "$work/$1.err" >&2; }
}

check_tree() {
  local name="$1"
  shift
  ip -json address show >"$work/ip-$name.json"
  python3 "$here/machine.py" check "$work/$name.json" "$here/machine.json" "$work/ip-$name.json" "$@" ||
    fail "the tree ($name) does not match the machine"
}

# Waits up to $1 seconds for a settled tree that satisfies the Python expression $2 on `tree`:
# two reads in a row, each after a finished cycle (InterfaceData_Ready 1) and with the same keys
# and values (machine.py settled), so that a read taken while a cycle or a rebuild is writing
# never counts. The last read is left in $work/$3.json. The bound is for a loaded machine: a
# poll interval, Wine's slowest start of a program, and room for both cores being busy.
wait_for_tree() {
  local deadline=$((SECONDS + $1)) condition="$2" name="$3"
  rm -f "$work/$name.previous.json"
  while ((SECONDS < deadline)); do
    dump_tree "$name"
    python3 "$here/machine.py" settled "$work/$name.json" "$condition" "$work/$name.previous.json" &&
      return 0
    mv "$work/$name.json" "$work/$name.previous.json"
    sleep 2
  done
  return 1
}

# The registry value $2 of key $1 as "TYPE DATA" (reg query's words), empty when there is none.
reg_value() {
  win reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p"
}
