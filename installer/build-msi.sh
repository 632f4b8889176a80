#!/usr/bin/env bash
# Builds the Windows Installer package:
#
#   installer/build-msi.sh WIXL MSIBUILD VERSION BINDIR WXS OUTPUT
#
# wixl finds the files the package holds relative to its working directory, so it runs in
# BINDIR. wixl 0.101 has no Condition element for a component; msibuild then writes the
# conditions into the Component table: each setting's registry value is written only when its
# property (given, or kept from the registry) has a value. Its Type="expandable" leaves out the
# "#%" that makes a registry value REG_EXPAND_SZ, which the event source's message file is; and
# its Execute="rollback" makes an immediate action: the rollback one's type is set here (50, an
# executable named by a property, + 0x400 in the script + 0x100 rollback + 0x800 as LocalSystem
# + 0x40 its exit code ignored).
set -euo pipefail
if [ $# -ne 6 ]; then
  echo "usage: $0 WIXL MSIBUILD VERSION BINDIR WXS OUTPUT" >&2
  exit 2
fi
wixl="$1" msibuild="$2" version="$3" bindir="$4" wxs="$5" output="$6"
partial="$output.partial"
mkdir -p "$(dirname "$output")"
rm -f "$partial"
(cd "$bindir" && "$wixl" -a x64 -D Version="$version" -o "$partial" "$wxs")
for setting in Timeout:TIMEOUT ImmediateUpdates:IMMEDIATEUPDATES TrapRecordLimit:TRAPRECORDLIMIT \
  MetricsFile:METRICSFILE; do
  component="${setting%%:*}Setting" property="CRV_${setting##*:}_VALUE"
  "$msibuild" "$partial" -q \
    "UPDATE \`Component\` SET \`Condition\` = '$property' WHERE \`Component\` = '$component'"
done
"$msibuild" "$partial" -q \
  "UPDATE \`Registry\` SET \`Value\` = '#%[#crvnicmgmt.dll]' WHERE \`Name\` = 'EventMessageFile'"
"$msibuild" "$partial" -q \
  "UPDATE \`CustomAction\` SET \`Type\` = 3442 WHERE \`Action\` = 'UnregisterServiceOnRollback'"
# An upgrade only stops the service: deleted by the older product's removal, its key (with the
# settings the newer product writes) would go whenever the old process ends, perhaps after
# those writes, and the newer -install would find a service marked for deletion.
"$msibuild" "$partial" -q \
  "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = 'VersionNT AND NOT UPGRADINGPRODUCTCODE' WHERE \`Action\` = 'DeleteServices'"
# What the package must hold after both steps; an UPDATE that matches nothing says nothing.
msiinfo="$(dirname "$msibuild")/msiinfo"
components="$("$msiinfo" export "$partial" Component)"
registry="$("$msiinfo" export "$partial" Registry)"
tab=$'\t'
for property in TIMEOUT IMMEDIATEUPDATES TRAPRECORDLIMIT METRICSFILE; do
  grep -qF "${tab}CRV_${property}_VALUE${tab}" <<<"$components" ||
    { echo "build-msi: no condition on the $property setting" >&2; exit 1; }
done
grep -qF "${tab}#%[#crvnicmgmt.dll]${tab}" <<<"$registry" ||
  { echo "build-msi: the event message file is not REG_EXPAND_SZ" >&2; exit 1; }
grep -qF "UnregisterServiceOnRollback${tab}3442${tab}" <<<"$("$msiinfo" export "$partial" CustomAction)" ||
  { echo "build-msi: the rollback action is not one" >&2; exit 1; }
grep -qF "DeleteServices${tab}VersionNT AND NOT UPGRADINGPRODUCTCODE${tab}" \
  <<<"$("$msiinfo" export "$partial" InstallExecuteSequence)" ||
  { echo "build-msi: an upgrade would delete the service" >&2; exit 1; }
mv "$partial" "$output"
