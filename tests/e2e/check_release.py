#!/usr/bin/env python3
"""Packs the release zip from the build folders as tools/release does, unpacks it, checks what it
holds (the four programs, the readme, the changes and the JSON schema, files 0644 and folders
0755) and runs the census from it under 32-bit Wine on census scenarios. Where the kernel runs no
32-bit programs, it runs them under emulation (tools/i386_wine.py), with donglectl's version and its
refusal to switch as a 32-bit program on 64-bit Windows.

usage: check_release.py [--session] X86_BUILD_DIR X64_BUILD_DIR NAME PREFIX SCENARIO_FILE
                        SCENARIO ..."""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scenarios  # noqa: E402
import wine_scenarios  # noqa: E402
import winetest  # noqa: E402

MAKE_ZIP = os.path.join(HERE, "..", "..", "release", "make_zip.py")
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import i386_wine as emulation  # noqa: E402


def missing_named(folder, exes):
    """The files README.txt and CHANGES.txt name (a guide, a text, the schema; with exes, the
    programs in x86\\ and x64\\) that the folder lacks."""
    pattern = r"docs[\\/][a-z]+\.\w+|(?<![\w.\\/])[A-Za-z][\w.]*\.(?:txt|json)\b"
    if exes:
        pattern += r"|\bx(?:86|64)\\[a-z]+\.exe"
    failures = []
    for text in ("README.txt", "CHANGES.txt"):
        with open(os.path.join(folder, text), encoding="utf-8") as f:
            for named in sorted(set(re.findall(pattern, f.read()))):
                if not os.path.exists(os.path.join(folder, *re.split(r"[\\/]", named))):
                    failures.append(f"{text} names {named}, which is not there")
    return failures


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--session", action="store_true")
    for arg in ("build", "build64", "name", "prefix", "scenario_file"):
        ap.add_argument(arg)
    ap.add_argument("scenarios", nargs="+")
    a = ap.parse_args()
    build, name = a.build, a.name
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, MAKE_ZIP, build, a.build64, tmp, name], check=True,
                       stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
        with zipfile.ZipFile(os.path.join(tmp, name + ".zip")) as z:
            held = sorted(z.namelist())
            if held != [f"{name}/{f}" for f in (
                    "", "CHANGES.txt", "README.txt", "docs/", "docs/deploying.txt",
                    "docs/scripting.txt", "docs/support.txt", "docs/switching.txt",
                    "donglecensus.exe", "donglectl.schema.json", "x64/", "x64/donglecensus.exe",
                    "x64/donglectl.exe", "x86/", "x86/donglectl.exe")]:
                failures.append(f"zip holds {held}")
            for info in z.infolist():
                mode = info.external_attr >> 16
                if info.create_system != 3 or mode != (0o40755 if info.is_dir() else 0o100644):
                    failures.append(f"{info.filename} is stored with mode {mode:o}")
            z.extractall(tmp)
        with open(os.path.join(tmp, name, "donglectl.schema.json"), encoding="utf-8") as f:
            jsonschema.Draft7Validator.check_schema(json.load(f))
        readme = open(os.path.join(tmp, name, "README.txt"), "rb").read()
        if b"\n" in readme.replace(b"\r\n", b"") or b"HKEY_LOCAL_MACHINE" not in readme:
            failures.append("README.txt is not a CRLF text naming HKEY_LOCAL_MACHINE")
        changes = open(os.path.join(tmp, name, "CHANGES.txt"), "rb").read()
        version = name.rsplit("-", 1)[-1].encode()
        if b"\n" in changes.replace(b"\r\n", b"") or b"## " + version not in changes:
            failures.append(f"CHANGES.txt is not a CRLF text naming {version.decode()}")
        failures += missing_named(os.path.join(tmp, name), exes=True)
        if failures:
            return winetest.report(failures)
        exe = os.path.join(tmp, name, "donglecensus.exe")
        wanted = [sc for sc in scenarios.load(a.scenario_file) if sc.name in a.scenarios]
        if winetest.unavailable("win32") is None:
            with winetest.Prefix(a.prefix).session(started=a.session) as prefix:
                for sc in wanted:
                    failures += [f"{sc.name}: {f}" for f in
                                 wine_scenarios.check(prefix, {"census": exe}, sc)]
        else:
            failures += emulated(a.prefix, os.path.join(tmp, name), wanted,
                                 version.decode())
    return winetest.report(failures)


def emulated(prefix_path, unpacked, wanted, version):
    """Where the kernel refuses 32-bit programs: the x86 programs of the zip under 32-bit Wine
    run by an emulator, as 32-bit programs on 64-bit Windows (WoW64), in a prefix of their own:
    the census scenarios, donglectl --version, and its refusal to switch."""
    failures = []
    folder = os.path.join(os.path.dirname(os.path.abspath(prefix_path)), "i386-emulation")
    loader = emulation.prepare(folder)
    print("this kernel runs no 32-bit programs: running them under emulation "
          f"(32-bit Wine and qemu-i386 unpacked in {emulation.place(folder)})")
    ctl = os.path.join(unpacked, "x86", "donglectl.exe")
    with emulation.registered(folder):
        prefix = winetest.Prefix(prefix_path + "-emulated", "win64")
        prefix.loader = loader
        prefix.env.update(emulation.environment(folder), WINELOADER=loader)
        with prefix.session():
            for sc in wanted:
                failures += [f"{sc.name} (emulated): {f}" for f in
                             wine_scenarios.check(prefix, {"census": os.path.join(
                                 unpacked, "donglecensus.exe")}, sc)]
            r = prefix.wine([ctl, "--version"])
            if (r.returncode, r.stdout) != (0, f"donglectl {version}\r\n".encode()):
                failures.append(f"x86 donglectl --version: {r.returncode} {r.stdout!r}")
            r = prefix.wine([ctl, "disable", "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"])
            # A Linux exit status keeps the low byte of ERROR_IN_WOW64 (0xE0000235).
            if r.returncode != 0x35 or \
                    b"Run the x64 build, x64\\donglectl.exe, instead." not in r.stderr:
                failures.append(f"x86 donglectl disable under WoW64: {r.returncode} {r.stderr!r}")
    print(f"emulated: {len(wanted)} census scenarios, donglectl --version and its WoW64 refusal")
    return failures


if __name__ == "__main__":
    sys.exit(main())
