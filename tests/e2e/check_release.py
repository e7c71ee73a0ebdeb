#!/usr/bin/env python3
"""Packs the release zip from the build folders as tools/release does, unpacks it, checks what it
holds (the three programs, the readme, the changes and the JSON schema, files 0644 and folders
0755) and runs the census from it under Wine on census
scenarios, where this machine runs 32-bit Wine (elsewhere the test is then skipped).

usage: check_release.py [--session] X86_BUILD_DIR X64_BUILD_DIR NAME PREFIX SCENARIO_FILE
                        SCENARIO ..."""

import argparse
import json
import os
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
                    "", "CHANGES.txt", "README.txt", "donglecensus.exe", "donglectl.schema.json",
                    "x64/", "x64/donglecensus.exe", "x64/donglectl.exe", "x86/", "x86/donglectl.exe")]:
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
        if failures:
            return winetest.report(failures)
        # What the zip holds is checked on every machine; running the census from it needs Wine.
        winetest.skip_unless_runnable("win32")
        exe = os.path.join(tmp, name, "donglecensus.exe")
        with winetest.Prefix(a.prefix).session(started=a.session) as prefix:
            for sc in scenarios.load(a.scenario_file):
                if sc.name in a.scenarios:
                    failures += [f"{sc.name}: {f}" for f in
                                 wine_scenarios.check(prefix, {"census": exe}, sc)]
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
