#!/usr/bin/env python3
"""Packs the release zip from the build folder as tools/release does, unpacks it, checks what it
holds and runs the program from it under Wine on census scenarios.

usage: check_release.py [--session] BUILD_DIR NAME PREFIX SCENARIO_FILE SCENARIO ..."""

import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scenarios  # noqa: E402
import wine_scenarios  # noqa: E402
import winetest  # noqa: E402

MAKE_ZIP = os.path.join(HERE, "..", "..", "release", "make_zip.py")


def main():
    args = sys.argv[1:]
    session = args[:1] == ["--session"]
    if session:
        args = args[1:]
    if len(args) < 5:
        sys.exit(__doc__)
    build, name, prefix_dir, path = args[:4]
    wanted = set(args[4:])
    winetest.skip_unless_runnable("win32")
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, MAKE_ZIP, build, tmp, name], check=True,
                       stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
        with zipfile.ZipFile(os.path.join(tmp, name + ".zip")) as z:
            held = sorted(z.namelist())
            if held != [f"{name}/README.txt", f"{name}/donglecensus.exe"]:
                failures.append(f"zip holds {held}")
            z.extractall(tmp)
        readme = open(os.path.join(tmp, name, "README.txt"), "rb").read()
        if b"\n" in readme.replace(b"\r\n", b"") or b"HKEY_LOCAL_MACHINE" not in readme:
            failures.append("README.txt is not a CRLF text naming HKEY_LOCAL_MACHINE")
        exe = os.path.join(tmp, name, "donglecensus.exe")
        prefix = winetest.Prefix(prefix_dir)
        if not session:
            prefix.start()
        try:
            for sc in scenarios.load(path):
                if sc.name in wanted:
                    failures += [f"{sc.name}: {f}" for f in
                                 wine_scenarios.check(prefix, exe, None, sc)]
            prefix.import_reg(prefix.clear_lines())
        finally:
            if not session:
                prefix.stop()
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
