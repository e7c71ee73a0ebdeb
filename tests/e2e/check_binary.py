#!/usr/bin/env python3
"""Checks a built program users get (donglecensus.exe, or donglectl.exe of either width) with
pefile. It must be a console program for the machine it was built for that loads on the oldest
Windows of that width: a 32-bit x86 program keeps the optional header's OS and subsystem
versions at 4.0, so every Windows from XP on loads it; an x64 program asks for subsystem 5.2,
Windows XP x64 and Server 2003 x64, the first x64 Windows. It must set DYNAMIC_BASE and
NX_COMPAT, import only system DLLs, and only the functions allowed below, each one exported by
that oldest Windows. It must embed one empty application manifest and a version record of the
project's version naming the file. Prints its size.

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
    "advapi32.dll": {
        "AllocateAndInitializeSid", "CheckTokenMembership", "FreeSid", "RegCloseKey",
        "RegCreateKeyExA", "RegEnumKeyExA", "RegOpenKeyExA", "RegSetValueExA",
    },
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FormatMessageA", "FreeLibrary",
        "GetCurrentProcess", "GetLastError", "GetModuleHandleA", "GetModuleHandleW",
        "GetProcAddress", "GetStartupInfoA", "GetTickCount", "InitializeCriticalSection",
        "IsDBCSLeadByte", "IsDBCSLeadByteEx", "LeaveCriticalSection", "LoadLibraryA",
        "MultiByteToWideChar", "SetConsoleCtrlHandler", "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery",
        "WideCharToMultiByte",
        # x64 only: exception dispatch of the x64 runtime, in every x64 Windows.
        "__C_specific_handler",
    },
    "msvcrt.dll": {
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode",
        "__p__fmode", "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_errno",
        "_initterm", "_iob", "_lock", "_mbsnicmp", "_onexit", "_stricmp", "_strnicmp", "_unlock",
        "abort", "atoi", "calloc", "exit", "ferror", "fflush", "fprintf", "fputc", "fputs", "free",
        "fwrite", "localeconv",
        "malloc", "memchr", "memcpy", "memset", "putchar", "puts", "setlocale", "signal",
        "strchr", "strcmp",
        "strcpy", "strerror", "strlen", "strncmp", "vfprintf", "wcslen",
        # x64 only: the same runtime's data reached through functions.
        "___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "_acmdln", "_commode",
        "_fmode",
    },
    "rpcrt4.dll": {"UuidFromStringA"},
    "setupapi.dll": {
        "CM_Get_DevNode_Status_Ex", "CM_Get_Device_IDA", "CM_Get_HW_Prof_FlagsA", "CM_Get_Parent",
        "CM_Set_HW_Prof_FlagsA", "SetupDiCallClassInstaller", "SetupDiClassNameFromGuidA",
        "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo", "SetupDiEnumDeviceInterfaces",
        "SetupDiGetClassDevsA", "SetupDiGetDeviceInfoListDetailA", "SetupDiGetDeviceInstallParamsA",
        "SetupDiGetDeviceInstanceIdA", "SetupDiGetDeviceInterfaceDetailA",
        "SetupDiGetDeviceRegistryPropertyA", "SetupDiSetClassInstallParamsA",
        "SetupDiSetDeviceRegistryPropertyA",
    },
}

# By machine: its name, and the OS and subsystem version of the oldest Windows of that width.
MACHINES = {
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: ("x86", pefile.OPTIONAL_HEADER_MAGIC_PE,
                                                     (4, 0)),
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: ("x64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS,
                                                      (5, 2)),
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
    if fh.Machine not in MACHINES or MACHINES[fh.Machine][1] != oh.Magic:
        return [f"machine {fh.Machine:#x}: neither a 32-bit x86 nor an x64 PE file"]
    width, _, oldest = MACHINES[fh.Machine]
    print(f"machine: {width}")
    if oh.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        failures.append(f"subsystem {oh.Subsystem}, not a console program")
    os_version = (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion)
    subsystem = (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)
    if subsystem != oldest or os_version > oldest:
        failures.append(f"OS version {os_version}, subsystem version {subsystem}: wanted "
                        f"{oldest}, the oldest {width} Windows")
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


def check_resources(pe, version, file_name):
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
    for name, value in (("OriginalFilename", file_name), ("FileVersion", version),
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
    failures = check_headers(pe) + check_imports(pe) + \
        check_resources(pe, version, os.path.basename(exe))
    print(f"size: {os.path.getsize(exe)} bytes")
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
