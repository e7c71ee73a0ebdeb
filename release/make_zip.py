#!/usr/bin/env python3
"""Packs the release: OUT_DIR/NAME.zip holding, under NAME/, README.txt, CHANGES.txt,
donglectl.schema.json, the guides as docs/*.txt, donglecensus.exe and x86/donglectl.exe from a
32-bit build folder and
x64/donglecensus.exe and x64/donglectl.exe from a 64-bit one. The same files give the same zip,
byte for byte: the entries are in a fixed order, dated SOURCE_DATE_EPOCH (required), with fixed
attributes: Unix modes 0644 for files and 0755 for folders, so that unzip makes them readable by
all, as Windows does.

usage: make_zip.py X86_BUILD_DIR X64_BUILD_DIR OUT_DIR NAME"""

import os
import sys
import time
import zipfile

# (build folder: 0 for x86, 1 for x64; file there; its name in the zip)
FILES = ((0, "README.txt", "README.txt"), (0, "CHANGES.txt", "CHANGES.txt"),
         (0, "donglectl.schema.json", "donglectl.schema.json"),
         (0, "donglecensus.exe", "donglecensus.exe"),
         (0, "donglectl.exe", "x86/donglectl.exe"), (1, "donglecensus.exe", "x64/donglecensus.exe"),
         (1, "donglectl.exe", "x64/donglectl.exe")) + tuple(
             (0, f"docs/{g}.txt", f"docs/{g}.txt")
             for g in ("support", "scripting", "switching", "deploying"))
FOLDERS = ("", "docs/", "x86/", "x64/")
FILE_MODE, FOLDER_MODE = 0o100644, 0o40755
MSDOS_DIRECTORY = 0x10


def entry(name, stamp, mode):
    """A zip entry made on Unix (so that its mode counts), with no other attribute but the
    MS-DOS folder bit for a folder."""
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3
    info.external_attr = mode << 16 | (MSDOS_DIRECTORY if name.endswith("/") else 0)
    return info


def arguments(usage):
    """X86_BUILD_DIR X64_BUILD_DIR OUT_DIR NAME and SOURCE_DATE_EPOCH, as both packers take them:
    the two build folders, the output folder (made), the name and the time in seconds."""
    if len(sys.argv) != 5:
        sys.exit(usage)
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        sys.exit(f"{os.path.basename(sys.argv[0])}: SOURCE_DATE_EPOCH must be set to a time in "
                 "seconds")
    os.makedirs(sys.argv[3], exist_ok=True)
    return sys.argv[1:3], sys.argv[3], sys.argv[4], int(epoch)


def main():
    builds, out, name, epoch = arguments(__doc__)
    # A zip entry holds local time from 1980 on, in steps of two seconds.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    path = os.path.join(out, name + ".zip")
    with zipfile.ZipFile(path, "w") as z:
        for folder in FOLDERS:
            z.writestr(entry(f"{name}/{folder}", stamp, FOLDER_MODE), b"")
        for build, file, held in FILES:
            info = entry(f"{name}/{held}", stamp, FILE_MODE)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(builds[build], file), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
