#!/usr/bin/env python3
"""Runs every batch example of the docs under Wine's cmd, for each status the program it calls
can give: README.md and docs/*.md (```bat blocks) and the zip's README.txt (blocks that begin with
an indented "@echo off"). The program is the stub fake_program.exe, put where the example calls
it, printing FAKE_LINES lines and exiting with FAKE_STATUS. An example that calls neither `wait`
nor the census fails: give it its cases here.

usage: check_examples.py [--arch win32|win64] [--session] STUB PREFIX"""

import argparse
import glob
import os
import re
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import winetest  # noqa: E402

# (lines printed, exit status) -> the last line the example prints, and its own exit status.
CASES = {
    "wait": [((0, 0), "The dongle is there.", 0),
             ((0, 1460), "No dongle after two minutes.", 1),
             ((0, 1223), "Waiting was stopped.", 1),
             ((0, 5), "Waiting failed: status 5.", 1),
             ((0, -536870347), "Waiting failed: status -536870347.", 1)],
    "census": [((0, 0), "No dongle is plugged in.", 0),
               ((3, 3), "The dongle is plugged in: 3 matching nodes.", 0),
               ((0, 5), "The census failed: Windows error 5.", 1),
               ((0, -536870347), "The census failed: Windows error -536870347.", 1)],
}


def examples():
    """(where, text) of every batch example."""
    found = []
    for path in [os.path.join(ROOT, "README.md")] + sorted(glob.glob(os.path.join(ROOT, "docs",
                                                                                  "*.md"))):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for m in re.finditer(r"^```bat\n(.*?)^```", text, re.M | re.S):
            if "@echo off" in m.group(1):
                found.append((os.path.relpath(path, ROOT), m.group(1)))
    with open(os.path.join(ROOT, "release", "README.txt.in"), encoding="utf-8") as f:
        lines = f.read().split("\n")
    for i, line in enumerate(lines):
        if line.strip() == "@echo off":
            indent = len(line) - len(line.lstrip())
            block = []
            for follow in lines[i:]:
                if follow.strip() and len(follow) - len(follow.lstrip()) < indent:
                    break
                block.append(follow[indent:])
            found.append(("release/README.txt.in", "\n".join(block).strip() + "\n"))
    return found


def kind(text):
    if re.search(r"donglectl\.exe wait\b", text):
        return "wait"
    if "donglecensus.exe" in text:
        return "census"
    return None


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--arch", choices=("win32", "win64"), default="win32")
    ap.add_argument("--session", action="store_true")
    ap.add_argument("stub")
    ap.add_argument("prefix")
    a = ap.parse_args()
    winetest.skip_unless_runnable(a.arch)
    failures, runs = [], 0
    with winetest.Prefix(a.prefix, a.arch).session(started=a.session) as prefix, \
            tempfile.TemporaryDirectory() as tmp:
        for exe in ("donglecensus.exe", "x64/donglectl.exe", "x86/donglectl.exe"):
            os.makedirs(os.path.dirname(os.path.join(tmp, exe)), exist_ok=True)
            shutil.copy(a.stub, os.path.join(tmp, exe))
        for n, (where, text) in enumerate(examples()):
            if kind(text) is None:
                failures.append(f"{where}: an example of no known kind:\n{text}")
                continue
            script = os.path.join(tmp, f"example{n}.cmd")
            with open(script, "w", encoding="ascii", newline="\r\n") as f:
                f.write(text)
            for (lines, status), said, exit_status in CASES[kind(text)]:
                prefix.env.update(FAKE_LINES=str(lines), FAKE_STATUS=str(status))
                # Wine's drive Z: is the Linux root.
                folder = "Z:" + tmp.replace("/", "\\")
                r = prefix.wine(["cmd", "/c", f"cd /d {folder} && example{n}.cmd"])
                out = r.stdout.decode("ascii", "replace").replace("\r\n", "\n").strip()
                last = out.split("\n")[-1] if out else ""
                runs += 1
                if last != said or r.returncode != exit_status:
                    failures.append(f"{where} ({kind(text)}, status {status}): printed {out!r}, "
                                    f"exit {r.returncode}; wanted {said!r}, exit {exit_status}")
    for f in failures:
        print("FAIL", f)
    print(f"{runs - len(failures)} passed, {len(failures)} failed")
    return 1 if failures or not runs else 0


if __name__ == "__main__":
    sys.exit(main())
