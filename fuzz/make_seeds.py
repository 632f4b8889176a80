#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/: a few well-formed and a few odd inputs
per harness, in the input layout each harness reads (see the harness's comment). Run it again
after changing a layout. With a dump file written by `nicsim --dump FILE` as the argument,
tessar_decode also gets a whole published tree as a seed."""
import os
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def wide(text):
    return text.encode("utf-16-le")


def counted(text, width=2):
    data = wide(text)
    return struct.pack("<H", len(data) // 2) + data


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


LOCATIONS = [
    "PCI Slot 3 (PCI bus 5, device 0, function 1)",
    "PCI bus 2, device 0, function 1",
    "MLX4 bus 5, device 0, function 0, port 2",
    "PCI Slot 4294967295 (PCI bus -1, device 99999999999, function 8)",
    "bus , device , function",
    "",
]
INSTANCE_IDS = [
    "PCI\\VEN_8086&DEV_1572&SUBSYS_00068086&REV_01\\4&1A2B3C4D&0&0008",
    "B06BDRV\\L2ND&PCI_165F14E4&SUBSYS_1F5B1028&REV_00\\5&2A4C3F61&0&20",
    "EBDRV\\L2ND&PCI_16A11077&SUBSYS_00001077&REV_10\\5&1&0&30",
    "QEBDRV\\L2ND&PCI_808414E4&SUBSYS_00001077&REV_00\\5&1&0&30",
    "MLX4\\CONNECTX-3PRO_ETH\\5&2A4C3F61&0&1",
    "IBA\\CONNECTX-3_IPOIB\\5&1&0&2",
    "SFNBUS\\NDIS&VEN_1924&DEV_0903&SUBSYS_00000000&REV_01\\6&1&0&0",
    "PCI\\VEN_&DEV_&SUBSYS_&REV_\\",
    "PCI\\VEN_0x8086&DEV_-1&SUBSYS_+FFFFFFFFFF&REV_01",
]
PATHS = [
    "\\\\?\\pci#ven_8086&dev_1572&subsys_00068086&rev_01#4&1a2b3c4d&0&0008#"
    "{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{3f1a6c10-8a2e-4c51-9b0d-1e2f3a4b5c01}",
    "\\\\?\\root#cv_crvteammp#0001#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{7b000000-aa}",
    "\\\\?\\sfnbus#ndis&ven_1924&dev_0903#6&1&0&0#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{x}",
    "\\\\?\\mlx4#connectx-3pro_eth#5&2a4c3f61&0&1#{ad498944}\\",
    "no backslash at all",
    "\\\\?\\root#vms_mp#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{hyper-v}",
]


def smbios_block():
    def structure(kind, handle, body, strings):
        head = struct.pack("<BBH", kind, 4 + len(body), handle) + body
        tail = b"".join(s.encode() + b"\0" for s in strings) + b"\0"
        if not strings:
            tail = b"\0\0"
        return head + tail

    system = structure(1, 0x100, bytes([1, 2, 3, 4]) + bytes(16) + bytes([6, 5, 6]),
                       ["Corvane", "ProLine DL380 Gen10", "1", "CZ1234"])
    slot = structure(9, 0x900, bytes([1, 0xB0, 0x0D, 3, 4, 3, 0, 0x0C, 0x01]) +
                     struct.pack("<HBB", 0, 5, 0x00), ["PCIe Slot 3"])
    onboard = structure(41, 0x4100, bytes([1, 0x85, 1]) + struct.pack("<HBB", 0, 2, 0x00),
                        ["Embedded NIC 1"])
    end = structure(127, 0x7F00, b"", [])
    table = system + slot + onboard + end
    return struct.pack("<BBBBI", 0, 3, 4, 0, len(table)) + table


def main():
    for i, text in enumerate(LOCATIONS):
        write("parse_first_number", "location%d" % i, wide(text))
        write("location_text", "pci%d" % i, b"\0" + wide(text))
        write("location_text", "mlx%d" % i, b"\1" + wide(text))
    for i, text in enumerate(INSTANCE_IDS + LOCATIONS[:3]):
        write("instance_id", "id%d" % i, wide(text))
    for i, path in enumerate(PATHS):
        write("device_path", "path%d" % i, b"\0" + counted(path))
    write("device_path", "several", b"\2" + b"".join(counted(p) for p in PATHS[:3]))
    block = smbios_block()
    write("smbios_walk", "server", block)
    write("smbios_walk", "cut", block[:40])
    write("smbios_walk", "header_only", block[:8])
    # driver_answer: vendor choice, family, private-device byte, then answers.
    for vendor in range(11):
        body = bytes([vendor, 5 + vendor % 12, 1, 20]) + wide("ExamplePrivate\0")[:40]
        body += bytes([8]) + bytes(range(8)) + bytes([0]) + bytes([72]) + bytes(68) + b"\x04\x03\x02\x01"
        body += bytes([0])
        for size in (4, 4, 40, 4, 72, 128, 48, 8, 12, 255, 8):
            body += bytes([1, size]) + bytes((i * 37 + vendor) & 0xFF for i in range(size))
        body += bytes([1, 0, 0, 0, 0]) + b"\x07\x02" + bytes([0, 8]) + b"7.13.0\0\0"
        write("driver_answer", "vendor%02d" % vendor, body)
    # wmi_variant: ports, then property kinds and values.
    mac = bytes([0x00, 0x0F, 0x53, 0x01, 0x02, 0x03])
    port = bytes([1, 0x14, 6]) + b"".join(bytes([0]) for _ in mac) + bytes([3]) + counted("8.1.3.1004")
    write("wmi_variant", "one_port", bytes([1]) + port + bytes([0x14, 0, 40]) + block[:40])
    write("wmi_variant", "two_ports", bytes([2]) + port + port + bytes([4, 0, 6]) + bytes(6))
    write("wmi_variant", "odd_types", bytes([3]) + bytes(range(0, 250, 7)))
    # bridge_name: name type, bytes, index type, bytes, and whether each value is there.
    for i, (name, index) in enumerate([("N/A\0", 99), ("n/a\0", 7), ("Bridge\0", 3),
                                       ("N/A", 1), ("N/A\0junk", 5)]):
        data = wide(name)
        write("bridge_name", "name%d" % i,
              bytes([1, (len(data) + 2) // 3]) + data.ljust(((len(data) + 2) // 3) * 3, b"\0") +
              bytes([3, 4]) + struct.pack("<I", index) + bytes([1, 1]))
    if len(sys.argv) > 1:
        with open(sys.argv[1], "rb") as f:
            write("tessar_decode", "tree", bytes([10]) + f.read())
    for choice in range(10):
        write("tessar_decode", "value%d" % choice, bytes([choice, 3]) + bytes(range(64)))


if __name__ == "__main__":
    main()
