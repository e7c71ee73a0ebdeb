#!/usr/bin/env python3
"""Checks the built donglecensus.exe: it imports only system DLLs (the C++ and GCC runtimes are
linked in), it is a 32-bit x86 console program, it embeds the empty application manifest and a
version record of the project's version. Prints its size.

usage: check_binary.py OBJDUMP EXE VERSION"""

import os

import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "setupapi.dll", "cfgmgr32.dll", "msvcrt.dll",
               "user32.dll", "ntdll.dll"}


def main():
    objdump, exe, version = sys.argv[1:4]
    failures = []
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True,
                             check=True).stdout
    dlls = {m.lower() for m in re.findall(r"DLL Name: (\S+)", headers)}
    print("imports:", ", ".join(sorted(dlls)))
    if not dlls or dlls - SYSTEM_DLLS:
        failures.append(f"imports other than system DLLs: {sorted(dlls - SYSTEM_DLLS)}")
    if "file format pei-i386" not in headers:
        failures.append("not a 32-bit x86 PE file")
    if not re.search(r"^Subsystem\s+00000003", headers, re.M):
        failures.append("not a console program")

    if not re.search(r"^\s*\d+ \.rsrc ", subprocess.run([objdump, "-h", exe], capture_output=True,
                                                      text=True, check=True).stdout, re.M):
        failures.append("no resource section")
    with open(exe, "rb") as f:
        image = f.read()
    manifests = re.findall(rb"<\?xml.*?</assembly>", image, re.S)
    if len(manifests) != 1:
        failures.append(f"{len(manifests)} application manifests, wanted 1")
    for manifest in manifests:
        for word in (b"dependency", b"requestedExecutionLevel", b"trustInfo"):
            if word in manifest:
                failures.append(f"manifest names {word.decode()}")

    strings = image.decode("utf-16-le", errors="replace") + image[1:].decode("utf-16-le",
                                                                              errors="replace")
    for name, value in (("OriginalFilename", "donglecensus.exe"), ("FileVersion", version),
                        ("ProductVersion", version)):
        if not re.search(name + "\0+" + re.escape(value) + "\0", strings):
            failures.append(f"version record lacks {name} {value}")
    print(f"size: {os.path.getsize(exe)} bytes")

    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
