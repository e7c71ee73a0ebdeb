#!/usr/bin/env python3
"""Packs the release: OUT_DIR/NAME.zip holding NAME/donglecensus.exe and NAME/README.txt from a
32-bit build folder, and OUT_DIR/SHA256SUMS. The same files give the same zip, byte for byte:
the entries are in a fixed order, dated SOURCE_DATE_EPOCH (required), with fixed attributes.

usage: make_zip.py BUILD_DIR OUT_DIR NAME"""

import hashlib
import os
import sys
import time
import zipfile

FILES = ("README.txt", "donglecensus.exe")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    build, out, name = sys.argv[1:]
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        sys.exit("make_zip.py: SOURCE_DATE_EPOCH must be set to a time in seconds")
    # A zip entry holds local time from 1980 on, in steps of two seconds.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, name + ".zip")
    with zipfile.ZipFile(path, "w") as z:
        for file in FILES:
            info = zipfile.ZipInfo(f"{name}/{file}", date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes, none set
            info.external_attr = 0
            with open(os.path.join(build, file), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(os.path.join(out, "SHA256SUMS"), "w", encoding="ascii") as f:
        f.write(f"{digest}  {name}.zip\n")
    print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
