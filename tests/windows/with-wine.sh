#!/usr/bin/env bash
# Runs COMMAND... (typically ctest on the Windows build) with a private Wine prefix:
#
#   tests/windows/with-wine.sh ctest --test-dir build/windows --output-on-failure
#
# The prefix is made fresh for the run under build/ and removed afterwards, so every run
# starts from an empty registry and service database and two runs never share a wine server.
# A persistent wine server keeps volatile registry keys, services and named events alive
# between the programs of the run. The exit code is COMMAND's.
set -u

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGUMENT...]" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
mkdir -p "$root/build"
WINEPREFIX="$(mktemp -d "$root/build/wineprefix.XXXXXX")"
export WINEPREFIX

# Headless and quiet: no display, no debug channels, no Mono or Gecko installer dialogs. Overrides
# the caller names (the test machine's stand-in libraries) are kept.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export WINEARCH=win64

cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# First run: create the prefix. Debian's wine wrapper may print a note about the missing
# 32-bit loader; it is harmless for 64-bit programs. Without a display nothing can ask a
# question, so a first run that does not end is an error, not a dialog waiting for an answer.
if ! timeout 300 wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1 </dev/null; then
  echo "with-wine: wineboot -i failed:" >&2
  cat "$WINEPREFIX/wineboot.log" >&2
  exit 1
fi
# Let the first-run server finish, then keep one running until the command is done:
# otherwise it ends with the last program, taking volatile keys and services with it.
if ! timeout 120 wineserver -w; then
  echo "with-wine: the first-run wine server had not ended after 120 s" >&2
fi
wineserver -p >/dev/null 2>&1 </dev/null
# Stand-in drivers of the test machine (CRV_WINE_DRIVERS: paths, separated by spaces) go in
# place of Wine's before the service control manager starts them; WINEDLLOVERRIDES must name
# each one native (ndis.sys=n,b), or Wine loads its own.
for driver in ${CRV_WINE_DRIVERS:-}; do
  cp "$driver" "$WINEPREFIX/drive_c/windows/system32/drivers/" ||
    { echo "with-wine: cannot install $driver" >&2; exit 1; }
done
# Start Wine's own services (the service control manager and what it runs) now, detached from
# the command's output, so that no test pays for their start-up. Started later by a test
# program they would inherit its standard handles; cmake/wine-run.sh keeps those off ctest's
# pipe, which they would otherwise hold open until the test's time-out.
# Their Wine debug output (WINEDEBUG=$CRV_WINE_SERVICES_DEBUG for them and every service they
# start, -all otherwise) goes to $WINEPREFIX/services.log.
WINEDEBUG="${CRV_WINE_SERVICES_DEBUG:--all}" timeout 120 wine sc query >/dev/null \
  2>"$WINEPREFIX/services.log" </dev/null
if [ $? -eq 124 ]; then
  echo "with-wine: Wine's service control manager did not answer within 120 s" >&2
fi

"$@"
status=$?
exit $status
