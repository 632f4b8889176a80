#!/usr/bin/env bash
# Runs COMMAND... in a private network namespace of its own, so that tests can add and remove
# interfaces without touching the machine's:
#
#   tests/windows/in-netns.sh tests/windows/with-wine.sh tests/windows/netns-steps.sh BINDIR
#
# The namespace holds the loopback (up), a veth pair veth0/veth1 (both up; veth0 has
# 10.77.0.1/24, and 10.77.0.2 resolves to veth1's address, so datagrams sent there cross the
# pair) and a tap interface tap0 (up; no program behind it, so no carrier). Wine, started inside,
# sees these and nothing else. The command gets CRV_NETNS=1 and CRV_NETNS_DIR, a scratch
# directory removed afterwards. The exit code is COMMAND's, or 77 (skipped, for ctest) when no
# namespace can be made here (this needs root).
set -u

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGUMENT...]" >&2
  exit 2
fi

if [ "${CRV_NETNS_INSIDE:-}" != 1 ]; then
  if ! unshare -n -m true 2>/dev/null; then
    echo "in-netns: cannot make a network namespace here (needs root): skipped" >&2
    exit 77
  fi
  # A mount namespace too, so that /sys can show this network namespace's interfaces.
  CRV_NETNS_INSIDE=1 exec unshare -n -m "$0" "$@"
fi
unset CRV_NETNS_INSIDE

set -e
# sysfs shows the interfaces of the network namespace that mounted it: mounted again here,
# /sys/class/net is this namespace's (the stand-in NDIS driver reads carrier, speed, duplex
# and counters there through Wine's Z: drive). The mount is private to this namespace.
mount -t sysfs sysfs /sys
ip link set lo up
ip link add veth0 type veth peer name veth1
ip address add 10.77.0.1/24 dev veth0
ip link set veth0 up
ip link set veth1 up
veth1_address="$(ip -o link show dev veth1 | sed -n 's|.* link/ether \([0-9a-f:]*\) .*|\1|p')"
ip neighbour replace 10.77.0.2 lladdr "$veth1_address" dev veth0 nud permanent
ip tuntap add dev tap0 mode tap
ip link set tap0 up
set +e

CRV_NETNS_DIR="$(mktemp -d "${TMPDIR:-/tmp}/crv-netns.XXXXXX")"
export CRV_NETNS=1 CRV_NETNS_DIR
trap 'rm -rf "$CRV_NETNS_DIR"' EXIT
trap 'exit 130' INT TERM

# Not exec: the scratch directory goes when the command is done. The namespace, and every
# interface in it, goes with its last process.
"$@"
exit $?
