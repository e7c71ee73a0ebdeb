#!/usr/bin/env python3
"""Makes the release zip with CPack, unpacks it, checks what it holds and runs the program from
it under Wine on census scenarios.

usage: check_release.py BUILD_DIR ZIP_NAME PREFIX SCENARIO_FILE NAME ..."""

import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios  # noqa: E402
import wine_scenarios  # noqa: E402
import winetest  # noqa: E402


def main():
    build, zip_name, prefix_dir, path = sys.argv[1:5]
    names = set(sys.argv[5:])
    subprocess.run(["cpack", "--config", "CPackConfig.cmake"], cwd=build, check=True,
                   stdout=subprocess.DEVNULL)
    top = zip_name[:-len(".zip")]
    failures = []
    with tempfile.TemporaryDirectory() as tmp, \
            zipfile.ZipFile(os.path.join(build, "release", zip_name)) as z:
        held = sorted(z.namelist())
        if held != [f"{top}/README.txt", f"{top}/donglecensus.exe"]:
            failures.append(f"zip holds {held}")
        z.extractall(tmp)
        readme = open(os.path.join(tmp, top, "README.txt"), "rb").read()
        if b"\n" in readme.replace(b"\r\n", b"") or b"HKEY_LOCAL_MACHINE" not in readme:
            failures.append("README.txt is not a CRLF text naming HKEY_LOCAL_MACHINE")
        exe = os.path.join(tmp, top, "donglecensus.exe")
        prefix = winetest.Prefix(prefix_dir)
        prefix.start()
        try:
            for sc in scenarios.load(path):
                if sc.name in names:
                    failures += [f"{sc.name}: {f}" for f in
                                 wine_scenarios.check(prefix, exe, None, sc)]
            prefix.import_reg(prefix.clear_lines())
        finally:
            prefix.stop()
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
