#!/usr/bin/env python3
"""Makes the installer packages as tools/release does and reads them back (msiinfo, msiextract):
each width's platform, folder, files (the build's, byte for byte), version, codes and the
optional PATH entry. Then, under 64-bit Wine, in the tests' prefix: installs a package of an
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
import winetest  # noqa: E402

MAKE_MSI = os.path.join(HERE, "..", "..", "release", "make_msi.py")
FILES = ("CHANGES.txt", "README.txt", "donglecensus.exe", "donglectl.exe", "donglectl.schema.json")
FOLDER = r"C:\Program Files\donglecensus"
ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"


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
            for f in FILES + ("donglecensus_version.h",):
                if os.path.exists(os.path.join(build, f)):
                    shutil.copy(os.path.join(build, f), copy)
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
    failures = []
    codes = []
    for msi, build, (template, folder, attributes) in zip(msis, builds, (
            ("Intel;1033", "ProgramFilesFolder", "0"), ("x64;1033", "ProgramFiles64Folder", "256"))):
        summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True,
                                 text=True).stdout
        if f"Template: {template}\n" not in summary:
            failures.append(f"{msi}: not a {template} package")
        props = dict(r[:2] for r in table(msi, "Property"))
        codes.append((props.get("ProductCode"), props.get("UpgradeCode")))
        if props.get("ProductVersion") != version or "ADDTOPATH" not in props.get(
                "SecureCustomProperties", "").split(";"):
            failures.append(f"{msi}: properties {props}")
        if ["INSTALLFOLDER", folder, "donglecensus"] not in table(msi, "Directory"):
            failures.append(f"{msi}: not installed into {folder}\\donglecensus")
        components = {r[0]: r for r in table(msi, "Component")}
        if {r[3] for r in components.values()} != {attributes} or \
                components["PathEntry"][4] != 'ADDTOPATH="1" OR REMOVE~="ALL"':
            failures.append(f"{msi}: components {components}")
        if table(msi, "Environment") != [["PATH", "=-*PATH", "[~];[INSTALLFOLDER]", "PathEntry"]]:
            failures.append(f"{msi}: environment {table(msi, 'Environment')}")
        out = os.path.join(tmp, os.path.basename(msi) + ".files")
        subprocess.run(["msiextract", "-C", out, msi], check=True, stdout=subprocess.DEVNULL)
        for root, _, names in os.walk(out):
            for f in names:
                origin = build if f.endswith(".exe") else builds[0]
                with open(os.path.join(root, f), "rb") as a, \
                        open(os.path.join(origin, f), "rb") as b:
                    if a.read() != b.read():
                        failures.append(f"{msi}: {f} is not the build's")
        held = sorted(f for _, _, names in os.walk(out) for f in names)
        if held != sorted(FILES):
            failures.append(f"{msi} holds {held}")
    if codes[0][0] == codes[1][0] or codes[0][1] != codes[1][1]:
        failures.append(f"product and upgrade codes of the two widths: {codes}")
    return failures


def under_wine(prefix, old, new, build, version):
    failures = []
    folder = os.path.join(prefix.path, "drive_c", "Program Files", "donglecensus")

    def msiexec(*args):
        r = prefix.wine(["msiexec", *args, "/qn"])
        if r.returncode != 0:
            failures.append(f"msiexec {' '.join(args)}: exit status {r.returncode}")

    def files():
        return {f: open(os.path.join(folder, f), "rb").read()
                for f in (os.listdir(folder) if os.path.isdir(folder) else [])}

    def path_entry():
        r = prefix.wine(["reg", "query", ENVIRONMENT, "/v", "PATH"])
        return FOLDER + "\\" in r.stdout.decode(errors="replace") or \
            r.stdout.decode(errors="replace").rstrip().endswith(FOLDER)

    for msi in (new, old):  # what a run cut short left installed
        prefix.wine(["msiexec", "/x", "Z:" + msi.replace("/", "\\"), "/qn"])
    prefix.import_reg(prefix.record_lines("absent"))
    msiexec("/i", "Z:" + old.replace("/", "\\"))
    if files().get("README.txt") != b"donglecensus 1.9.0\r\n":
        failures.append(f"the earlier version did not install: {sorted(files())}")
    msiexec("/i", "Z:" + new.replace("/", "\\"))
    with open(os.path.join(build, "README.txt"), "rb") as f:
        if files().get("README.txt") != f.read():
            failures.append("the upgrade did not replace README.txt")
    r = prefix.wine([FOLDER + r"\donglectl.exe", "--version"])
    if r.returncode != 0 or version.encode() not in r.stdout:
        failures.append(f"installed donglectl --version: {r.returncode} {r.stdout!r}")
    r = prefix.wine([FOLDER + r"\donglecensus.exe"])
    if (r.returncode, r.stdout, prefix.read_record()) != (0, b"", 0):
        failures.append(f"installed census: {r.returncode} {r.stdout!r}")
    if path_entry():
        failures.append("PATH names the folder without ADDTOPATH=1")
    msiexec("/x", "Z:" + new.replace("/", "\\"))
    msiexec("/i", "Z:" + new.replace("/", "\\"), "ADDTOPATH=1")
    if not path_entry():
        failures.append("ADDTOPATH=1 did not put the folder on PATH")
    msiexec("/x", "Z:" + new.replace("/", "\\"))
    if files() or path_entry():
        failures.append(f"left after removal: {sorted(files())}, PATH entry {path_entry()}")
    if prefix.read_record() != 0:
        failures.append("the removal took the census's record")
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
            failures += under_wine(prefix, old[1], new[1], a.build, version)
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
