#!/usr/bin/env python3
"""Makes the installer packages as tools/release does and reads them back (msiinfo, msiextract):
each width's platform, folder, files (the build's, byte for byte) and version. Then, under 64-bit Wine, in the tests' prefix: installs a package of an
earlier version with msiexec /qn, upgrades it with this version's, runs the installed programs,
sets the PATH entry with ADDTOPATH=1, and removes the package: no file may stay, and the census's
record must.

usage: check_msi.py [--session] X86_BUILD_DIR X64_BUILD_DIR NAME PREFIX"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_release  # noqa: E402
import winetest  # noqa: E402

MAKE_MSI = os.path.join(HERE, "..", "..", "release", "make_msi.py")
FILES = ("CHANGES.txt", "README.txt", "donglecensus.exe", "donglectl.exe", "donglectl.schema.json",
         "docs/deploying.txt", "docs/scripting.txt", "docs/support.txt", "docs/switching.txt")
FOLDER = r"C:\Program Files\donglecensus"
ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def table(msi, name):
    """A table's rows as lists of columns (msiinfo export, without its three header lines)."""
    out = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                         text=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def make(builds, out, name, version=None):
    """The packages of the builds; with version, of copies of them that say that version and
    carry another README.txt, as an earlier release would."""
    if version:
        copies = []
        for i, build in enumerate(builds):
            copy = os.path.join(out, f"build{i}")
            os.makedirs(copy)
            os.makedirs(os.path.join(copy, "docs"))
            for f in FILES + ("donglecensus_version.h",):
                if os.path.exists(os.path.join(build, f)):
                    shutil.copy(os.path.join(build, f), os.path.join(copy, f))
            header = os.path.join(copy, "donglecensus_version.h")
            text = re.sub(r'VERSION_TEXT "[^"]*"', f'VERSION_TEXT "{version}"', open(header).read())
            open(header, "w").write(text)
            copies.append(copy)
        builds = copies
        with open(os.path.join(builds[0], "README.txt"), "w") as f:
            f.write(f"donglecensus {version}\r\n")
    subprocess.run([sys.executable, MAKE_MSI, *builds, out, name], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
    return [os.path.join(out, f"{name}-{w}.msi") for w in ("x86", "x64")]


def read_back(msis, builds, version, tmp):
    """Each package's platform, folder, 64-bit components, version, secured ADDTOPATH and files
    (the build's, byte for byte)."""
    failures = []
    for msi, build, want in zip(msis, builds, (("Intel;1033", "ProgramFilesFolder", "0"),
                                               ("x64;1033", "ProgramFiles64Folder", "256"))):
        info = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True,
                              text=True).stdout
        props = dict(r[:2] for r in table(msi, "Property"))
        folder = {r[1] for r in table(msi, "Directory") if r[0] == "INSTALLFOLDER"}
        got = (f"Template: {want[0]}\n" in info, folder, {r[3] for r in table(msi, "Component")},
               props.get("ProductVersion"), "ADDTOPATH" in props["SecureCustomProperties"],
               props.get("ARPNOMODIFY"))
        if got != (True, {want[1]}, {want[2]}, version, True, "1"):
            failures.append(f"{msi}: {got}")
        out = os.path.join(tmp, os.path.basename(msi) + ".files")
        subprocess.run(["msiextract", "-C", out, msi], check=True, stdout=subprocess.DEVNULL)
        held = {f: os.path.join(r, f) for r, _, names in os.walk(out) for f in names}
        for f in FILES:
            origin = os.path.join(build if f.endswith(".exe") else builds[0], f)
            name = os.path.basename(f)
            if name not in held or open(held[name], "rb").read() != open(origin, "rb").read():
                failures.append(f"{msi}: {f} is not the build's")
        if sorted(held) != sorted(os.path.basename(f) for f in FILES):
            failures.append(f"{msi} holds {sorted(held)}")
    return failures


def under_wine(prefix, old, new, build, version, x86):
    failures = []
    folder = os.path.join(prefix.path, "drive_c", "Program Files", "donglecensus")
    folder86 = os.path.join(prefix.path, "drive_c", "Program Files (x86)", "donglecensus")

    def msiexec(verb, msi, *args, check=True):
        r = prefix.wine(["msiexec", verb, "Z:" + msi.replace("/", "\\"), "/qn", *args])
        if check and r.returncode != 0:
            failures.append(f"msiexec {verb} {os.path.basename(msi)}: exit {r.returncode}")
        return r.returncode

    def readme():
        path = os.path.join(folder, "README.txt")
        return open(path, "rb").read() if os.path.exists(path) else None

    def on_path():
        r = prefix.wine(["reg", "query", ENVIRONMENT, "/v", "PATH"])
        return FOLDER.encode() + b"\\" in r.stdout

    for msi in (new, old, x86):  # what a run cut short left installed
        msiexec("/x", msi, check=False)
    prefix.import_reg(prefix.record_lines("absent"))
    # The x86 package refuses 64-bit Windows, installing nothing.
    if msiexec("/i", x86, check=False) == 0 or os.path.exists(folder86):
        failures.append("the x86 package installed on 64-bit Windows")
    # The PATH entry asked for at the first install stays through an upgrade that does not ask.
    msiexec("/i", old, "ADDTOPATH=1")
    installed_old = readme()
    msiexec("/i", new)
    if (installed_old, readme()) != (b"donglecensus 1.9.0\r\n",
                                     open(os.path.join(build, "README.txt"), "rb").read()):
        failures.append(f"the upgrade from 1.9.0: README.txt {installed_old!r}, then {readme()!r}")
    # Every text README.txt and CHANGES.txt name is installed beside them.
    failures += check_release.missing_named(folder, exes=False)
    # Apps & Features: the folder as InstallLocation.
    uninstall = prefix.wine(["reg", "query", UNINSTALL, "/s", "/v", "InstallLocation"]).stdout
    if FOLDER.encode() not in uninstall:
        failures.append(f"no InstallLocation {FOLDER}: {uninstall!r}")
    r = prefix.wine([FOLDER + r"\donglectl.exe", "--version"])
    census = prefix.wine([FOLDER + r"\donglecensus.exe"])
    if (r.returncode, r.stdout, census.returncode, prefix.read_record(), on_path()) != \
            (0, f"donglectl {version}\r\n".encode(), 0, 0, True):
        failures.append(f"installed: {r.returncode} {r.stdout!r}, census {census.returncode}, "
                        f"record {prefix.read_record()}, on PATH {on_path()}")
    msiexec("/x", new)
    if os.path.exists(folder) or on_path() or prefix.read_record() != 0:
        failures.append(f"after removal: folder {os.path.exists(folder)}, on PATH {on_path()}, "
                        f"record {prefix.read_record()}")
    return failures


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--session", action="store_true")
    for arg in ("build", "build64", "name", "prefix"):
        ap.add_argument(arg)
    a = ap.parse_args()
    builds = [a.build, a.build64]
    version = a.name.rsplit("-", 1)[-1]
    with tempfile.TemporaryDirectory() as tmp:
        new = make(builds, tmp, a.name)
        failures = read_back(new, builds, version, tmp)
        os.makedirs(os.path.join(tmp, "old"))
        old = make(builds, os.path.join(tmp, "old"), "old", "1.9.0")
        if failures:
            return winetest.report(failures)
        winetest.skip_unless_runnable("win64")
        with winetest.Prefix(a.prefix, "win64").session(started=a.session) as prefix:
            failures += under_wine(prefix, old[1], new[1], a.build, version, new[0])
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
