#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the prefix that with-wine.sh prepared.
#
# The program's output goes through a file and is shown when it ends. A Wine process that the
# program starts, directly or through Wine's own start-up (the desktop, boot-time programs, a
# service), inherits the program's standard handles; holding ctest's output pipe, such a
# process would keep ctest waiting until the test's time-out although the program had ended.
set -u
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY

log="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
show_log() {
  cat "$log"
  rm -f "$log"
}
trap show_log EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

wine "$@" </dev/null >"$log" 2>&1
status=$?
exit $status
