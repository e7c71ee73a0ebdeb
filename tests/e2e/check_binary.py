#!/usr/bin/env python3
"""Checks a built program users get (donglecensus.exe, or donglectl.exe of either width) with
pefile. It must be a console program for the machine it was built for that loads on the oldest
Windows of that width: a 32-bit x86 program keeps the optional header's OS and subsystem
versions at 4.0, so every Windows from XP on loads it; an x64 program asks for subsystem 5.2,
Windows XP x64 and Server 2003 x64, the first x64 Windows. It must set DYNAMIC_BASE and
NX_COMPAT, import only system DLLs, and only the functions listed below, each from the DLL that
exports it on every Windows README.md promises (XP, 7, 10 and 11), never a reserved one. It must embed one application manifest (the census's empty; donglectl's
asking for asInvoker and naming every Windows from Vista to 11) and a version record of the
project's version naming the file, the product and its maker. Prints its size.

usage: check_binary.py EXE VERSION COMPANY"""

import os
import sys
import xml.etree.ElementTree as ET

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

# The Windows versions README.md promises, oldest first, and where each stands in time.
WINDOWS = {"XP": 5.1, "7": 6.1, "10/11": 10.0}


def since(version, *names):
    return {name: version for name in names}


# Every function the program may import, by DLL, with the first Windows that exports it from that
# DLL, as Microsoft's page of each function gives its minimum version and DLL ("2000": Windows
# 2000). None of them has been withdrawn since. The Configuration Manager comes from
# cfgmgr32.dll, where the SDK puts it; msvcrt.dll is the runtime every Windows from XP on ships.
# A toolchain that pulls in a newer function fails here rather than on a user's machine.
IMPORTS = {
    "advapi32.dll": since("2000", "AllocateAndInitializeSid", "CheckTokenMembership", "FreeSid",
                          "RegCloseKey", "RegCreateKeyExA", "RegDeleteValueA", "RegEnumKeyExA",
                          "RegEnumValueA", "RegFlushKey", "RegOpenKeyExA", "RegQueryValueExA",
                          "RegSetValueExA",
                          # The recovery service and the access list of its folder.
                          "AddAccessAllowedAceEx", "ChangeServiceConfigA", "CloseServiceHandle",
                          "CreateServiceA", "DeleteService", "EqualSid", "GetAce",
                          "GetFileSecurityA", "GetSecurityDescriptorDacl", "GetSecurityDescriptorOwner",
                          "InitializeAcl", "InitializeSecurityDescriptor", "OpenSCManagerA",
                          "OpenServiceA", "QueryServiceConfigA", "RegisterServiceCtrlHandlerA",
                          "SetSecurityDescriptorControl", "SetSecurityDescriptorDacl",
                          "SetSecurityDescriptorOwner", "SetServiceStatus",
                          "StartServiceCtrlDispatcherA"),
    "cfgmgr32.dll": since("2000", "CM_Get_DevNode_Status_Ex", "CM_Get_Device_IDA",
                          "CM_Get_Parent"),
    "kernel32.dll": since("2000", "CreateEventA", "DeleteCriticalSection", "EnterCriticalSection",
                          "FormatMessageA", "FreeLibrary", "GetCurrentProcess", "GetLastError",
                          "GetModuleFileNameA", "GetModuleHandleA", "GetModuleHandleW",
                          "GetProcAddress", "GetStartupInfoA", "GetSystemTime", "GetTickCount",
                          "InitializeCriticalSection", "IsDBCSLeadByte", "IsDBCSLeadByteEx",
                          "LeaveCriticalSection", "LoadLibraryA", "MultiByteToWideChar",
                          "ResetEvent", "WaitForMultipleObjects",
                          "SetConsoleCtrlHandler", "SetEvent", "SetUnhandledExceptionFilter",
                          "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery",
                          "WaitForSingleObject", "WideCharToMultiByte", "_fmode",
                          # The recovery's copy of the program and the lock of switching runs.
                          "CloseHandle", "CreateDirectoryA", "CreateFileA", "CreateMutexA",
                          "DeleteFileA", "FlushFileBuffers", "MoveFileExA", "ReadFile",
                          "ReleaseMutex", "RemoveDirectoryA", "WriteFile",
                          # report: Windows' version, and the name of its file while written.
                          "GetCurrentProcessId", "GetVersionExA",
                          # wait tells someone at a command prompt what it waits for.
                          "GetConsoleMode", "GetStdHandle"),
    "msvcrt.dll": since("XP", "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln",
                        "__p__commode", "__p__fmode", "__set_app_type", "__setusermatherr",
                        "_amsg_exit", "_cexit", "_errno", "_initterm", "_iob", "_lock",
                        "_mbsnicmp", "_onexit", "_stricmp", "_strnicmp", "_unlock", "abort",
                        "atoi", "calloc", "exit", "ferror", "fflush", "fprintf", "fputc", "fputs",
                        "free", "fwrite", "localeconv", "malloc", "memchr", "memcmp", "memcpy",
                        "memset", "putchar", "puts", "setlocale", "signal", "strchr", "strcmp", "strcpy",
                        "strerror", "strlen", "strncmp", "vfprintf", "wcslen",
                        # x64 only: the same runtime's data reached through functions.
                        "___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "_acmdln",
                        "_commode", "_fmode"),
    "rpcrt4.dll": since("2000", "UuidFromStringA"),
    # A message-only window for RegisterDeviceNotification (HWND_MESSAGE: Windows 2000).
    "user32.dll": since("2000", "CreateWindowExA", "DefWindowProcA", "DestroyWindow",
                        "DispatchMessageA", "MsgWaitForMultipleObjects", "PeekMessageA",
                        "RegisterClassExA", "RegisterDeviceNotificationA",
                        "UnregisterDeviceNotification"),
    # The common application data folder (CSIDL_COMMON_APPDATA).
    "shell32.dll": since("2000", "SHGetFolderPathA"),
    "setupapi.dll": since("2000", "SetupDiCallClassInstaller", "SetupDiClassNameFromGuidA",
                          "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo",
                          "SetupDiEnumDeviceInterfaces", "SetupDiGetClassDevsA",
                          "SetupDiGetDeviceInfoListDetailA", "SetupDiGetDeviceInstallParamsA",
                          "SetupDiGetDeviceInstanceIdA", "SetupDiGetDeviceInterfaceDetailA",
                          "SetupDiGetDeviceRegistryPropertyA", "SetupDiSetClassInstallParamsA",
                          "SetupDiSetDeviceRegistryPropertyA"),
}
IMPORTS["kernel32.dll"]["__C_specific_handler"] = "XP"  # x64 only: exception dispatch
# CM_Register_Notification and CM_Unregister_Notification (Windows 8 and later) are looked up.
# Never imported, whatever a toolchain does: why.
FORBIDDEN = {
    "CM_Set_HW_Prof_FlagsA": "reserved for system use",
    "CM_Get_HW_Prof_FlagsA": "deprecated from Windows 8 on: looked up at run time",
    "CM_Register_Notification": "Windows 8 and later only: looked up at run time",
}

# By machine: its name, and the OS and subsystem version of the oldest Windows of that width.
MACHINES = {
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: ("x86", pefile.OPTIONAL_HEADER_MAGIC_PE,
                                                     (4, 0)),
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: ("x64", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS,
                                                      (5, 2)),
}

# The Windows donglectl's manifest names (supportedOS), from Vista to 10 and 11.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}

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
    """Each import from a system DLL that exports it on every Windows README.md promises."""
    failures = []
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
    if not entries:
        failures.append("no import table")
    count = 0
    for entry in entries:
        dll = entry.dll.decode().lower()
        exported = IMPORTS.get(dll)
        if exported is None:
            failures.append(f"imports {dll}, which is not a system DLL it may use")
            continue
        names = sorted(imp.name.decode() if imp.name else f"ordinal {imp.ordinal}"
                       for imp in entry.imports)
        count += len(names)
        print(f"  {dll}: {' '.join(names)}")
        for name in names:
            if name in FORBIDDEN:
                failures.append(f"imports {dll}!{name}: {FORBIDDEN[name]}")
            elif name not in exported:
                failures.append(f"imports {dll}!{name}, which no list here says every Windows "
                                f"exports from {dll}")
    print(f"imports: {count} functions from {len(entries)} DLLs, each exported on Windows "
          f"{', '.join(WINDOWS)}")
    return failures


def check_manifest(manifest, file_name):
    """The census's manifest is an empty assembly; donglectl's asks for asInvoker and names the
    Windows it supports."""
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as e:
        return [f"the manifest is not XML: {e}"]
    if root.tag != "{urn:schemas-microsoft-com:asm.v1}assembly":
        return [f"the manifest's root is {root.tag}"]
    if file_name == "donglecensus.exe":
        return [f"the census's manifest holds {child.tag}" for child in root]
    levels = [(e.get("level"), e.get("uiAccess")) for e in root.iter()
              if e.tag.endswith("}requestedExecutionLevel")]
    found = {e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")}
    failures = [] if levels == [("asInvoker", "false")] else [f"execution levels {levels}"]
    if found != SUPPORTED_OS:
        failures.append(f"supportedOS {sorted(found)}, wanted {sorted(SUPPORTED_OS)}")
    if any(e.tag.endswith("}dependency") for e in root.iter()):
        failures.append("the manifest names a dependency")
    return failures


def check_resources(pe, version, file_name, company):
    failures = []
    manifests = resources(pe, RT_MANIFEST)
    if len(manifests) != 1:
        failures.append(f"{len(manifests)} application manifests, wanted 1")
    for manifest in manifests:
        failures += check_manifest(manifest, file_name)
    if len(resources(pe, RT_VERSION)) != 1:
        failures.append("no version record")
        return failures
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for name, value in (("OriginalFilename", file_name), ("FileVersion", version),
                        ("ProductVersion", version), ("ProductName", "donglecensus"),
                        ("CompanyName", company)):
        if strings.get(name) != value:
            failures.append(f"version record has {name} {strings.get(name)!r}, wanted {value!r}")
    if not strings.get("FileDescription"):
        failures.append("version record has no FileDescription")
    if company not in strings.get("LegalCopyright", ""):
        failures.append(f"version record's LegalCopyright does not name {company}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16)
    if ".".join(map(str, numbers)) != version:
        failures.append(f"fixed file version {numbers}, wanted {version}")
    return failures


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    exe, version, company = sys.argv[1:]
    pe = pefile.PE(exe)
    failures = check_headers(pe) + check_imports(pe) + \
        check_resources(pe, version, os.path.basename(exe), company)
    print(f"size: {os.path.getsize(exe)} bytes")
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
