#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in the prefix that test.sh prepared.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
exec wine "$@"
