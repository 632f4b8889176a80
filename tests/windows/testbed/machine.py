#!/usr/bin/env python3
"""The test machine's adapters (machine.json: the PCI identity each Linux interface is given)
and the check of a published tree against the machine.

  machine.py seed-args MACHINE.json NAME...
      the arguments of crv_testbed_seed.exe for these interfaces, each ended by a NUL
  machine.py settled TREE.json CONDITION PREVIOUS.json
      exits 0 when TREE.json (tessar-dump --json) is a finished cycle's tree that satisfies the
      Python expression CONDITION on `tree`, and PREVIOUS.json, the read before it, was too,
      with the same keys and value names: a read taken while a cycle or a rebuild was writing
      (InterfaceData_Ready 0, keys or values missing) never counts
  machine.py traps TREE.json MACHINE.json IP-ADDR.json CODE NAME...
      checks that each named interface's port has exactly one trap record of CODE (11
      connectivity lost, 12 regained) with its port number, slot, PCI bus and device, driver
      service, condition and MAC, and that its port record shows that link
  machine.py events SERVICES.log MACHINE.json CLASS NAME...
      checks that Wine's ReportEventW printed, on the eventlog channel at CLASS (warn for a
      warning, trace for information), the slot, PCI location and interface of each named
      interface's port, one line after another as the agent passes them
  machine.py check TREE.json MACHINE.json IP-ADDR.json [--no-device NAME]...
      checks a tree (tessar-dump --json) against the namespace's interfaces as Linux reports
      them (ip -json address) and the identities seeded for them, never against the agent's
      own earlier output. NAME has no NDIS device (added after Wine started). Prints one line
      per finding and exits 1 when there is any.
"""
import json
import re
import sys
import time

problems = []


def expect(condition, text):
    if not condition:
        problems.append(text)


def values(tree, relative):
    path = "SYSTEM\\TessarNetwork" + ("\\" + relative if relative else "")
    stack = [tree]
    while stack:
        key = stack.pop()
        if key["path"].lower().endswith(path.lower()):
            return {v["name"]: v for v in key.get("values", [])}
        stack.extend(key.get("subkeys", []))
    return None


def records(tree, relative, kind):
    found = values(tree, relative) or {}
    return [v["fields"] for v in found.values() if v.get("kind") == kind]


def pci_location(text):
    """"PCI bus 24, device 0, function 1" as the record writes it: 0000:18:00.1."""
    m = re.fullmatch(r"PCI bus (\d+), device (\d+), function (\d+)", text)
    return "0000:%02X:%02X.%X" % tuple(int(n) for n in m.groups()) if m else None


def pci_identity(instance):
    m = re.match(r"PCI\\VEN_(\w{4})&DEV_(\w{4})&SUBSYS_(\w{8})", instance, re.I)
    return "PCIID0x%s%s,SUBSYSID0x%s" % tuple(g.upper() for g in m.groups())


def seed_args(adapters, names):
    args = []
    for name in names:
        a = adapters[name]
        args += ["--interface", name, "--instance", a["instance"], "--service", a["service"],
                 "--description", a["description"], "--location", a["location"],
                 "--slot", str(a["slot"]), "--connection", a["connection"]]
        if a["dhcp"]:
            args.append("--dhcp")
    sys.stdout.write("".join(arg + "\0" for arg in args))
    return 0


def sys_net(name, item):
    """A line of /sys/class/net/NAME/ITEM (in-netns.sh mounts the namespace's own sysfs), or
    None when Linux gives none (an interface that is down has no speed)."""
    try:
        with open("/sys/class/net/%s/%s" % (name, item)) as f:
            return f.read().strip()
    except OSError:
        return None


def namespace_interfaces(ip_json, adapters, no_device):
    interfaces = []
    for link in ip_json:
        ipv4 = [a["local"] for a in link.get("addr_info", []) if a.get("family") == "inet"]
        speed = sys_net(link["ifname"], "speed")
        interfaces.append({"name": link["ifname"], "index": link["ifindex"],
                           "mac": link.get("address", ""), "ipv4": ipv4[0] if ipv4 else "0.0.0.0",
                           "seeded": adapters.get(link["ifname"]),
                           "device": link["ifname"] not in no_device,
                           "carrier": "LOWER_UP" in link.get("flags", []),
                           "speed": int(speed) if speed and int(speed) > 0 else 0,
                           "duplex": sys_net(link["ifname"], "duplex")})
    return interfaces


def expected_link(nic):
    """The port's link condition, duplex and speed as the stand-in NDIS driver answers them from
    Linux. Every interface has carrier or not from the start here, so one without it has never
    had a link: the agent publishes that as unknown (1), not as a failure, until it is seen."""
    if not nic["carrier"]:
        return (1, 1, 0)
    return (2, {"full": 3, "half": 2}.get(nic["duplex"], 1), nic["speed"])


def load_tree(path):
    try:
        return json.load(open(path)) or None
    except (OSError, ValueError):
        return None


def trap_records(tree, code):
    """The fields of every trap record of the code, under whichever key holds it."""
    found, stack = [], [tree] if tree else []
    while stack:
        key = stack.pop()
        found += [v["fields"] for v in key.get("values", [])
                  if v.get("kind") == "TrapData" and v.get("fields", {}).get("trapCode") == code]
        stack.extend(key.get("subkeys", []))
    return found


def finished(tree, condition):
    """A tree whose last cycle ended (InterfaceData_Ready 1) and that satisfies condition
    (a Python expression on tree; traps(code) counts its trap records of a code)."""
    if tree is None:
        return False
    ready = (values(tree, "Interface") or {}).get("InterfaceData_Ready", {})
    scope = {"json": json, "tree": tree, "traps": lambda code: len(trap_records(tree, code))}
    return ready.get("value") == 1 and bool(eval(condition, scope))


def shape(tree):
    """Every key and value name: what a cycle or rebuild in progress has not yet written."""
    names, stack = set(), [tree]
    while stack:
        key = stack.pop()
        names.add((key["path"].lower(), None))
        names.update((key["path"].lower(), v["name"].lower()) for v in key.get("values", []))
        stack.extend(key.get("subkeys", []))
    return names


def settled(tree_path, condition, previous_path):
    tree, previous = load_tree(tree_path), load_tree(previous_path)
    if not (finished(tree, condition) and finished(previous, condition)):
        return 1
    return 0 if shape(tree) == shape(previous) else 1


def pci_bus_device(text):
    m = re.fullmatch(r"PCI bus (\d+), device (\d+), function (\d+)", text)
    return tuple(int(n) for n in m.groups()) if m else None


def check_traps(tree, adapters, ip_json, code, names):
    ports = {p["interfaceIndex"]: p for p in records(tree, "Interface\\PhysInterface", "PhysAdapter")}
    condition = {11: 4, 12: 2}[code]
    for link in ip_json:
        name = link["ifname"]
        if name not in names:
            continue
        seeded, port = adapters[name], ports.get(link["ifindex"])
        if port is None:
            problems.append("%s: no port record" % name)
            continue
        expect(port["linkCondition"] == condition,
               "%s: port link condition %s, not %s" % (name, port["linkCondition"], condition))
        mine = [t for t in trap_records(tree, code) if t["portNumber"] == port["portNumber"]]
        if len(mine) != 1:
            problems.append("%s: %d trap records %d for port %d" %
                            (name, len(mine), code, port["portNumber"]))
            continue
        t = mine[0]
        bus, device, _ = pci_bus_device(seeded["location"])
        got = (t["recordMark"], t["slotNumber"], t["pciBus"], t["pciDevice"], t["portCondition"],
               t["deviceDescription"], t["interfaceMacAddress"].lower(), t["teamInterfaceMapNumber"])
        want = (4, seeded["slot"], bus, device, condition, seeded["service"],
                link["address"].lower(), 0)
        expect(got == want, "%s: trap record %d has %s, expected %s" % (name, code, got, want))
    expect(len(trap_records(tree, code)) == len(names),
           "%d trap records %d for %d ports" % (len(trap_records(tree, code)), code, len(names)))


def check_events(log_path, adapters, level, names):
    # Wine's ReportEventW prints each insert as one line: "<thread>:<level>:eventlog:...  L"text"".
    lines = [m.group(1) for m in
             (re.search(r':%s:eventlog:[^ ]* L"(.*)"$' % level, line.rstrip("\n"))
              for line in open(log_path, errors="replace")) if m]
    for name in names:
        a = adapters[name]
        bus, device, function = pci_bus_device(a["location"])
        want = [str(a["slot"]), "bus %d, device %d, function %d" % (bus, device, function),
                "%s (%s)" % (a["connection"], name)]
        found = any(lines[i:i + 3] == want for i in range(len(lines)))
        expect(found, "%s: no %s event with inserts %s (eventlog lines: %s)" %
               (name, level, want, lines[-12:]))


def main():
    if sys.argv[1] == "settled":
        return settled(*sys.argv[2:5])
    if sys.argv[1] == "events":
        adapters = {a["interface"]: a for a in json.load(open(sys.argv[3]))["adapters"]}
        check_events(sys.argv[2], adapters, sys.argv[4], sys.argv[5:])
        for problem in problems:
            print("event check: " + problem)
        print("event check: %s events of %s, %d problems" % (sys.argv[4], ", ".join(sys.argv[5:]),
                                                            len(problems)))
        return 1 if problems else 0
    if sys.argv[1] == "traps":
        adapters = {a["interface"]: a for a in json.load(open(sys.argv[3]))["adapters"]}
        check_traps(load_tree(sys.argv[2]), adapters, json.load(open(sys.argv[4])),
                    int(sys.argv[5]), sys.argv[6:])
        for problem in problems:
            print("trap check: " + problem)
        print("trap check: records %s of %s, %d problems" % (sys.argv[5], ", ".join(sys.argv[6:]),
                                                           len(problems)))
        return 1 if problems else 0
    adapters = {a["interface"]: a for a in json.load(open(sys.argv[2 if sys.argv[1] == "seed-args" else 3]))["adapters"]}
    if sys.argv[1] == "seed-args":
        return seed_args(adapters, sys.argv[3:])
    tree = json.load(open(sys.argv[2])) or {"path": "", "values": [], "subkeys": []}
    no_device = [sys.argv[i + 1] for i in range(5, len(sys.argv) - 1) if sys.argv[i] == "--no-device"]
    machine = {"interfaces": namespace_interfaces(json.load(open(sys.argv[4])), adapters, no_device)}

    root = values(tree, "") or {}
    expect(root.get("Status", {}).get("value") == 1, "Status is not 1: %s" % root.get("Status"))
    interface_values = values(tree, "Interface") or {}
    ready = interface_values.get("InterfaceData_Ready", {})
    expect(ready.get("value") == 1, "InterfaceData_Ready is not 1: %s" % ready)
    # When the last cycle finished: a FILETIME of this machine's clock, never ahead of it.
    cycle_time = interface_values.get("InterfaceData_CycleTime", {})
    finished = (cycle_time.get("value", 0) - 116444736000000000) / 1e7
    expect(cycle_time.get("type") == "REG_QWORD" and 1.6e9 < finished < time.time() + 60,
           "InterfaceData_CycleTime is not a recent time: %s" % cycle_time)

    interfaces = records(tree, "Interface\\LogInterfaceMap", "InterfaceMap")
    ports = records(tree, "Interface\\PhysInterface", "PhysAdapter")
    statistics = records(tree, "Ethernet\\Statistics", "Statistics")
    by_index = {r["memberIndexes"][0]: r for r in interfaces}
    ports_by_index = {p["interfaceIndex"]: p for p in ports}

    # An interface whose NDIS device cannot be opened has no miniport to pair with, so no record.
    managed = [i for i in machine["interfaces"]
               if i["name"] == "lo" or (i.get("seeded") and i.get("device"))]
    expect(len(interfaces) == len(managed),
           "%d interface records for %d managed interfaces (%s)" %
           (len(interfaces), len(managed), ", ".join(i["name"] for i in managed)))

    with_port = []
    for nic in machine["interfaces"]:
        record = by_index.get(nic["index"])
        port = ports_by_index.get(nic["index"])
        seeded = nic.get("seeded")
        name = nic["name"]
        if name == "lo":
            expect(record is not None and record["description"] == "lo",
                   "no interface record described lo at index %d" % nic["index"])
            expect(port is None, "the loopback has a port record")
            continue
        if not seeded or not nic.get("device"):
            expect(record is None and port is None, "%s is published without a device" % name)
            continue
        if record is None:
            problems.append("no interface record for %s (index %d)" % (name, nic["index"]))
            continue
        expect(record["description"] == name, "%s: description %r" % (name, record["description"]))
        expect(record["macAddress"].lower() == nic["mac"].lower(),
               "%s: interface MAC %s, the namespace's %s" % (name, record["macAddress"], nic["mac"]))
        expect(record["ipv4Address"] == nic["ipv4"],
               "%s: IPv4 %s, the namespace's %s" % (name, record["ipv4Address"], nic["ipv4"]))
        expect(record["connectionName"] == seeded["connection"],
               "%s: connection name %r, seeded %r" % (name, record["connectionName"],
                                                      seeded["connection"]))
        expect(record["addressAssignment"] == (1 if seeded["dhcp"] else 2),
               "%s: address assignment %s with DHCP %s" % (name, record["addressAssignment"],
                                                           seeded["dhcp"]))
        with_port.append(nic)
        if port is None:
            problems.append("no port record for %s (index %d)" % (name, nic["index"]))
            continue
        expect(record["grouping"] == 2 and record["portCount"] == 1 and
               record["portNumbers"][0] == port["portNumber"],
               "%s: interface record does not name its one port %d" % (name, port["portNumber"]))
        expect(port["macAddress"].lower() == nic["mac"].lower(),
               "%s: port MAC %s, the namespace's %s" % (name, port["macAddress"], nic["mac"]))
        expect(port["slotNumber"] == seeded["slot"],
               "%s: slot %s, seeded %s" % (name, port["slotNumber"], seeded["slot"]))
        expect(port["pciLocation"] == pci_location(seeded["location"]),
               "%s: PCI location %r, seeded %r" % (name, port["pciLocation"], seeded["location"]))
        expect(port["pciIdentity"] == pci_identity(seeded["instance"]),
               "%s: PCI identity %r, seeded %r" % (name, port["pciIdentity"], seeded["instance"]))
        expect(port["partNumber"] == seeded["partNumber"],
               "%s: part number %r, the driver family's %r" % (name, port["partNumber"],
                                                               seeded["partNumber"]))
        expect(port["deviceDescription"] == seeded["service"],
               "%s: description %r, seeded service %r" % (name, port["deviceDescription"],
                                                          seeded["service"]))
        # The stand-in NDIS driver answers link, speed and duplex from Linux, no firmware question.
        link = (port["linkCondition"], port["duplex"], port["linkSpeed"])
        expect(link == expected_link(nic),
               "%s: link, duplex, speed %s; Linux's %s" % (name, link, expected_link(nic)))
        expect(port["firmwareVersion"] == seeded["firmware"],
               "%s: firmware %r where no driver answers, expected %r" %
               (name, port["firmwareVersion"], seeded["firmware"]))
        expect(port["teamRole"] == 255, "%s: team role %s" % (name, port["teamRole"]))

    expect(len(ports) == len(with_port),
           "%d port records for %d Ethernet interfaces with a device" % (len(ports), len(with_port)))
    expect(sorted(s["interfaceIndex"] for s in statistics) == sorted(n["index"] for n in with_port),
           "statistics records for indexes %s" % sorted(s["interfaceIndex"] for s in statistics))
    expect(len({p["portNumber"] for p in ports}) == len(ports), "port numbers repeat")

    for problem in problems:
        print("tree check: " + problem)
    print("tree check: %d interface records, %d port records, %d problems" %
          (len(interfaces), len(ports), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
