#!/usr/bin/env python3
"""Checks the built donglecensus.exe with pefile. It must be a 32-bit x86 console program that
runs on Windows XP and later: the optional header's OS and subsystem versions stay at 4.0, so
every Windows from XP on loads it. It must set DYNAMIC_BASE and NX_COMPAT, import only system
DLLs, and only the functions allowed below, each one exported by Windows XP or earlier. It must
embed one empty application manifest and a version record of the project's version. Prints its
size.

usage: check_binary.py EXE VERSION"""

import os
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

# Every function the program may import, by DLL: each exported by Windows XP (and by its
# msvcrt.dll) or earlier. A toolchain that pulls in a newer function fails here rather than on
# a user's machine; a new entry must be checked against the oldest Windows the program runs on.
ALLOWED_IMPORTS = {
    "advapi32.dll": {"RegCloseKey", "RegCreateKeyExA", "RegSetValueExA"},
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetLastError",
        "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoA",
        "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection", "LoadLibraryA",
        "MultiByteToWideChar", "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue",
        "VirtualProtect", "VirtualQuery", "WideCharToMultiByte",
    },
    "msvcrt.dll": {
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode",
        "__p__fmode", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_errno",
        "_initterm", "_iob", "_lock", "_mbsnicmp", "_onexit", "_unlock", "abort", "atoi",
        "calloc", "exit", "fprintf", "fputc", "free", "fwrite", "localeconv", "malloc", "memcpy",
        "memset", "setlocale", "signal", "strchr", "strerror", "strlen", "strncmp", "vfprintf",
        "wcslen",
    },
    "setupapi.dll": {
        "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo", "SetupDiGetClassDevsA",
        "SetupDiGetDeviceRegistryPropertyA",
    },
}

RT_VERSION = pefile.RESOURCE_TYPE["RT_VERSION"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]


def resources(pe, kind):
    """The data of every resource of one type."""
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in root.entries if root else []:
        if entry.id != kind:
            continue
        for name in entry.directory.entries:
            for lang in name.directory.entries:
                s = lang.data.struct
                found.append(pe.get_data(s.OffsetToData, s.Size))
    return found


def check_headers(pe):
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    failures = []
    if fh.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"] or \
            oh.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        failures.append("not a 32-bit x86 PE file")
    if oh.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        failures.append(f"subsystem {oh.Subsystem}, not a console program")
    for what, major, minor in (
            ("OS", oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion),
            ("subsystem", oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)):
        if (major, minor) != (4, 0):
            failures.append(f"{what} version {major}.{minor}, wanted 4.0 (Windows XP loads it)")
    for flag in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"):
        if not oh.DllCharacteristics & pefile.DLL_CHARACTERISTICS[flag]:
            failures.append(f"{flag} not set")
    return failures


def check_imports(pe):
    failures = []
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    if not entries:
        failures.append("no import table")
    count = 0
    for entry in entries:
        dll = entry.dll.decode().lower()
        allowed = ALLOWED_IMPORTS.get(dll)
        if allowed is None:
            failures.append(f"imports {dll}, which is not a system DLL it may use")
            continue
        for imp in entry.imports:
            count += 1
            name = imp.name.decode() if imp.name else f"ordinal {imp.ordinal}"
            if name not in allowed:
                failures.append(f"imports {dll}!{name}, not in the allow-list")
    print(f"imports: {count} functions from {len(entries)} DLLs")
    return failures


def check_resources(pe, version):
    failures = []
    manifests = resources(pe, RT_MANIFEST)
    if len(manifests) != 1:
        failures.append(f"{len(manifests)} application manifests, wanted 1")
    for manifest in manifests:
        if b"<assembly" not in manifest:
            failures.append("the manifest holds no assembly")
        for word in (b"dependency", b"requestedExecutionLevel", b"trustInfo"):
            if word in manifest:
                failures.append(f"manifest names {word.decode()}")
    if len(resources(pe, RT_VERSION)) != 1:
        failures.append("no version record")
        return failures
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for name, value in (("OriginalFilename", "donglecensus.exe"), ("FileVersion", version),
                        ("ProductVersion", version)):
        if strings.get(name) != value:
            failures.append(f"version record has {name} {strings.get(name)!r}, wanted {value!r}")
    if not strings.get("FileDescription"):
        failures.append("version record has no FileDescription")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16)
    if ".".join(map(str, numbers)) != version:
        failures.append(f"fixed file version {numbers}, wanted {version}")
    return failures


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    exe, version = sys.argv[1:]
    pe = pefile.PE(exe)
    failures = check_headers(pe) + check_imports(pe) + check_resources(pe, version)
    print(f"size: {os.path.getsize(exe)} bytes")
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
