#!/usr/bin/env bash
# Checks the Windows binaries' tables with objdump -p:
#   check-binaries.sh OBJDUMP MODULE_DLL HOST_EXE
# The module exports exactly Win2KMain, CrvNicMgmtReportError and CrvNicMgmtReportErrorDebug,
# and both binaries import system libraries only (no mingw runtime DLLs, and the host does not
# import the module: it loads it at run time).
set -u
objdump="$1" module="$2" host="$3"

# Libraries every Windows installation has that the agent may use.
system_dlls='^(kernel32|advapi32|msvcrt|ucrtbase|api-ms-win-.*|ntdll|user32|iphlpapi|ws2_32|cfgmgr32|setupapi|ole32|oleaut32|wbemuuid|shlwapi|version)\.dll$'
failed=0

exports() {
  # The names under "[Ordinal/Name Pointer] Table", one per line.
  "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                             on && /^\t\[ *[0-9]+\] / {print $NF; next}
                             on {on = 0}'
}

imports() {
  "$objdump" -p "$1" | awk '/DLL Name:/ {print $3}'
}

check_imports() {
  local binary="$1" dll
  local list
  list="$(imports "$binary")"
  if [ -z "$list" ]; then
    echo "FAIL: $(basename "$binary"): no import table found"
    failed=1
  fi
  for dll in $list; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
      echo "FAIL: $(basename "$binary") imports $dll, which is not a system library"
      failed=1
    fi
  done
  echo "$(basename "$binary") imports:" $list
}

expected="$(printf '%s\n' CrvNicMgmtReportError CrvNicMgmtReportErrorDebug Win2KMain)"
actual="$(exports "$module" | sort)"
if [ "$actual" != "$expected" ]; then
  echo "FAIL: $(basename "$module") exports:"
  echo "$actual"
  echo "expected exactly:"
  echo "$expected"
  failed=1
else
  echo "$(basename "$module") exports:" $actual
fi

check_imports "$module"
check_imports "$host"
exit $failed
