#!/usr/bin/env python3
"""Generates a realistic device list of N devices for the benchmarks, about 5 % of them dongle
nodes of the three kinds, the rest ordinary USB, HID and PCI devices. The same seed gives the
same list. One device a line: instance ID, hardware IDs, compatible IDs, separated by tabs;
identifiers within a list separated by "|".

usage: devices.py N [SEED] > devices.tsv       (prints the number of matches on stderr)"""

import random
import sys


def dongle(kind, k):
    serial = f"5&{k:08X}&0&{k % 8 + 1}"
    if kind == 0:  # the dongle's device node
        return (f"USB\\VID_7B2E&PID_2F40\\{serial}",
                ["USB\\VID_7B2E&PID_2F40&REV_0100", "USB\\VID_7B2E&PID_2F40"],
                ["USB\\DevClass_EF&SubClass_02&Prot_01", "USB\\DevClass_EF", "USB\\COMPOSITE"], 1)
    if kind == 1:  # the second product
        return (f"USB\\VID_7B2E&PID_0B74\\{serial}",
                ["USB\\VID_7B2E&PID_0B74&REV_0200", "USB\\VID_7B2E&PID_0B74"],
                ["USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF"], 1)
    # an interface node of the association class
    return (f"USB\\VID_7B2E&PID_2F40&MI_00\\6&{k:08X}&0&0000",
            ["USB\\VID_7B2E&PID_2F40&REV_0100&MI_00", "USB\\VID_7B2E&PID_2F40&MI_00"],
            ["USB\\Class_EF&SubClass_03&Prot_01", "USB\\Class_EF&SubClass_03", "USB\\Class_EF"], 2)


def other(rng, k):
    vid, pid = rng.randrange(0x0400, 0x2000), rng.randrange(0x0001, 0xFFFF)
    kind = rng.randrange(3)
    if kind == 0:
        rev = rng.randrange(0x0100, 0x3000)
        return (f"USB\\VID_{vid:04X}&PID_{pid:04X}\\{k:X}&{rng.randrange(1 << 28):07X}&0&1",
                [f"USB\\VID_{vid:04X}&PID_{pid:04X}&REV_{rev:04X}", f"USB\\VID_{vid:04X}&PID_{pid:04X}"],
                ["USB\\Class_03&SubClass_01&Prot_02", "USB\\Class_03&SubClass_01", "USB\\Class_03"])
    if kind == 1:
        return (f"HID\\VID_{vid:04X}&PID_{pid:04X}&MI_00\\7&{rng.randrange(1 << 28):07X}&0&{k:04X}",
                [f"HID\\VID_{vid:04X}&PID_{pid:04X}&REV_0111&MI_00", f"HID\\VID_{vid:04X}&PID_{pid:04X}&MI_00",
                 f"HID\\VID_{vid:04X}&UP:0001_U:0002", "HID_DEVICE_SYSTEM_MOUSE", "HID_DEVICE_UP:0001_U:0002",
                 "HID_DEVICE"],
                [])
    sub = rng.randrange(1 << 32)
    return (f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&SUBSYS_{sub:08X}&REV_10\\3&11583659&0&{k % 256:02X}",
            [f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&SUBSYS_{sub:08X}&REV_10",
             f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&SUBSYS_{sub:08X}", f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&CC_0C0330",
             f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&CC_0C03"],
            [f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}&REV_10", f"PCI\\VEN_{vid:04X}&DEV_{pid:04X}",
             f"PCI\\VEN_{vid:04X}&CC_0C0330", f"PCI\\VEN_{vid:04X}&CC_0C03", "PCI\\CC_0C0330", "PCI\\CC_0C03"])


def generate(n, seed=1):
    """Returns (devices, matches): devices as (instance ID, hardware IDs, compatible IDs)."""
    rng = random.Random(seed)
    devices, matches = [], 0
    for k in range(n):
        if rng.random() < 0.05:
            instance, hw, compat, m = dongle(rng.randrange(3), k)
            matches += m
        else:
            instance, hw, compat = other(rng, k)
        devices.append((instance, hw, compat))
    return devices, matches


def main():
    devices, matches = generate(int(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 1)
    for instance, hw, compat in devices:
        print(f"{instance}\t{'|'.join(hw)}\t{'|'.join(compat)}")
    print(matches, file=sys.stderr)


if __name__ == "__main__":
    main()
