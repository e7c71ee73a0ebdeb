#!/usr/bin/env python3
"""Makes the installer packages: OUT_DIR/NAME-x86.msi and OUT_DIR/NAME-x64.msi, each installing
donglecensus.exe and donglectl.exe of its width with README.txt, CHANGES.txt and
donglectl.schema.json into "Program Files\\donglecensus", per machine (the x86 package refuses
64-bit Windows). With wixl (msitools), from release/
donglecensus.wxs.

One package per width: a Windows Installer package has one platform, and a 32-bit package can
install no 64-bit component nor into the 64-bit Program Files. Both have one upgrade code, so that
either replaces an earlier version of either; the product code derives from the version and the
width, so that each version upgrades the one before in place. The public property ADDTOPATH=1
puts the install folder at the end of the system PATH (off by default; remembered across
upgrades and repairs; the entry goes with the package).

The same files give the same packages, byte for byte: the file times in the cabinet, the package
code (from the files' contents) and the summary's times (SOURCE_DATE_EPOCH, required) are fixed.

usage: make_msi.py X86_BUILD_DIR X64_BUILD_DIR OUT_DIR NAME"""

import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

import olefile

import make_zip

HERE = os.path.dirname(os.path.abspath(__file__))
WXS = os.path.join(HERE, "donglecensus.wxs")

# Never changes: Windows Installer finds earlier versions by it.
UPGRADE_CODE = "6E0C5B0A-3F7D-4C2B-9A51-2D8E4B7F1C93"
# The namespace of the codes derived here (product, package and component codes).
NAMESPACE = uuid.UUID("0B4F6C2E-8D1A-4E7B-B3C5-9F2A6D8E1047")

# (width, wixl's arch, Program Files folder, 64-bit components, build folder: 0 x86, 1 x64)
WIDTHS = (("x86", "x86", "ProgramFilesFolder", "no", 0),
          ("x64", "x64", "ProgramFiles64Folder", "yes", 1))
# (file, build folder it comes from: None for the width's own)
FILES = (("donglecensus.exe", None), ("donglectl.exe", None), ("README.txt", 0),
         ("CHANGES.txt", 0), ("donglectl.schema.json", 0), ("docs/support.txt", 0),
         ("docs/scripting.txt", 0), ("docs/switching.txt", 0), ("docs/deploying.txt", 0))

# The optional PATH entry: appended ("[~];" first), set at install ("="), removed at uninstall
# ("-"), the system's ("*"); installed only when ADDTOPATH is "1"; written and removed by the
# standard actions at their usual places in the sequence (the Environment table's page).
# A component whose condition is false when the package is removed stays behind, so removal
# (REMOVE=ALL, also when an upgrade removes this version) enables it too.
PATH_CONDITION = 'ADDTOPATH="1" OR REMOVE~="ALL"'
ENVIRONMENT_IDT = ("Environment\tName\tValue\tComponent_\r\n"
                   "s72\tl255\tL255\ts72\r\n"
                   "Environment\tEnvironment\r\n"
                   "PATH\t=-*PATH\t[~];[INSTALLFOLDER]\tPathEntry\r\n")

# ADDTOPATH is remembered: the PATH entry's component also writes it under the product's key (the
# 64-bit view for the x64 package), and AppSearch reads it back first thing (a RegLocator, raw),
# so that an upgrade or a repair that does not repeat it keeps the entry.
REMEMBER_KEY = "Software\\donglecensus"
# Apps & Features: no Modify button (the package has one feature), and the install folder as
# InstallLocation (ARPINSTALLLOCATION, set once the folder is known, after CostFinalize).
# The x86 package on 64-bit Windows would install programs that cannot switch devices there.
X86_ON_X64 = ("This package is for 32-bit Windows. On 64-bit Windows, install "
              "donglecensus-{version}-x64.msi.")

# Summary information properties rewritten: the package code and the two times.
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def code(*words):
    return str(uuid.uuid5(NAMESPACE, " ".join(words))).upper()


def version_of(build):
    """The version and the maker, as the build's donglecensus_version.h has them."""
    with open(os.path.join(build, "donglecensus_version.h"), encoding="utf-8") as f:
        text = f.read()
    found = dict(re.findall(r'#define DONGLE_(VERSION_TEXT|COMPANY) "([^"]*)"', text))
    return found["VERSION_TEXT"], found["COMPANY"]


def fix_summary(path, package_code, epoch):
    """Sets the package code and both times of the summary information, in place: the property
    set keeps its size (a code is always 38 characters)."""
    stream = "\x05SummaryInformation"
    with olefile.OleFileIO(path, write_mode=True) as ole:
        data = bytearray(ole.openstream(stream).read())
        section = struct.unpack_from("<I", data, 44)[0]
        count = struct.unpack_from("<I", data, section + 4)[0]
        filetime = (epoch + 11644473600) * 10000000
        for i in range(count):
            pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
            at = section + offset
            kind = struct.unpack_from("<I", data, at)[0]
            if pid == PID_REVNUMBER and kind == VT_LPSTR:
                text = ("{" + package_code + "}").encode("ascii") + b"\0"
                if struct.unpack_from("<I", data, at + 4)[0] != len(text):
                    sys.exit(f"make_msi.py: {path}: unexpected package code")
                data[at + 8:at + 8 + len(text)] = text
            elif pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM) and kind == VT_FILETIME:
                struct.pack_into("<Q", data, at + 4, filetime)
        ole.write_stream(stream, bytes(data))


def extra_rows(label, version):
    """The msibuild queries for what wixl cannot write: the remembered ADDTOPATH, the Apps &
    Features entries, and the x86 package's launch condition."""
    locator = 2 | (16 if label == "x64" else 0)  # raw, in the 64-bit view for x64
    queries = [
        "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) "
        f"VALUES ('RememberAddToPath', 2, '{REMEMBER_KEY}', 'AddToPath', '[ADDTOPATH]', "
        "'PathEntry')",
        "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) "
        f"VALUES ('AddToPathSearch', 2, '{REMEMBER_KEY}', 'AddToPath', {locator})",
        "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('ADDTOPATH', "
        "'AddToPathSearch')",
        "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ARPNOMODIFY', '1')",
        "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
        "('SetARPINSTALLLOCATION', 51, 'ARPINSTALLLOCATION', '[INSTALLFOLDER]')"]
    for table in ("InstallUISequence", "InstallExecuteSequence"):
        queries.append(f"INSERT INTO `{table}` (`Action`, `Sequence`) VALUES ('AppSearch', 50)")
    for action, at in (("SetARPINSTALLLOCATION", 1010), ("RemoveRegistryValues", 2600),
                       ("WriteRegistryValues", 5000)):
        queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                       f"VALUES ('{action}', {at})")
    if label == "x86":
        message = X86_ON_X64.format(version=version)
        queries.append("INSERT INTO `LaunchCondition` (`Condition`, `Description`) "
                       f"VALUES ('NOT VersionNT64', '{message}')")
    return [a for q in queries for a in ("-q", q)]


def make_package(builds, out, name, width, epoch):
    label, arch, program_files, win64, build = WIDTHS[[w[0] for w in WIDTHS].index(width)]
    version, company = version_of(builds[0])
    path = os.path.join(out, f"{name}-{label}.msi")
    with tempfile.TemporaryDirectory() as stage:
        digest = hashlib.sha256(f"{version} {label}".encode())
        os.makedirs(os.path.join(stage, "docs"))
        for file, source in FILES:
            target = os.path.join(stage, file)
            shutil.copyfile(os.path.join(builds[build if source is None else source], file),
                            target)
            os.utime(target, (epoch, epoch))  # the cabinet keeps each file's time
            with open(target, "rb") as f:
                digest.update(hashlib.sha256(f.read()).digest())
        defines = {"Version": version, "Company": company, "Width": label,
                   "UpgradeCode": UPGRADE_CODE, "ProductCode": code("product", version, label),
                   "ProgramFiles": program_files, "Win64": win64}
        for component in ("Census", "Control", "Texts", "Guides", "Path"):
            defines["Guid" + component] = code("component", label, component)
        shutil.copyfile(WXS, os.path.join(stage, "donglecensus.wxs"))
        with open(os.path.join(stage, "Environment.idt"), "w", encoding="ascii",
                  newline="") as f:
            f.write(ENVIRONMENT_IDT)
        run = dict(cwd=stage, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["wixl", "-a", arch, "-o", "package.msi", "donglecensus.wxs"] +
                       [a for k, v in defines.items() for a in ("-D", f"{k}={v}")], **run)
        subprocess.run(["msibuild", "package.msi", "-i", "Environment.idt", "-q",
                        f"UPDATE `Component` SET `Condition` = '{PATH_CONDITION}' "
                        "WHERE `Component` = 'PathEntry'", "-q",
                        "UPDATE `Property` SET `Value` = "
                        "'ADDTOPATH;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' "
                        "WHERE `Property` = 'SecureCustomProperties'"] +
                       [a for exe in ("donglecensus.exe", "donglectl.exe")
                        for a in ("-q", f"UPDATE `File` SET `Version` = '{version}.0' "
                                  f"WHERE `File` = '{exe}'")] +
                       [a for action, at in (("RemoveEnvironmentStrings", 3300),
                                             ("WriteEnvironmentStrings", 5200))
                        for a in ("-q", "INSERT INTO `InstallExecuteSequence` (`Action`, "
                                  f"`Sequence`) VALUES ('{action}', {at})")] +
                       extra_rows(label, version), **run)
        fix_summary(os.path.join(stage, "package.msi"), str(uuid.UUID(
            bytes=digest.digest()[:16], version=4)).upper(), epoch)
        shutil.copyfile(os.path.join(stage, "package.msi"), path)
    return path


def main():
    builds, out, name, epoch = make_zip.arguments(__doc__)
    for width, *_ in WIDTHS:
        print(make_package(builds, out, name, width, epoch))
    return 0


if __name__ == "__main__":
    sys.exit(main())
