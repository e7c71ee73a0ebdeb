#!/usr/bin/env python3
"""Sets up a Wine prefix for a run of the program by hand: removes every device planted earlier
and, with --scenario, plants one scenario's devices and record. Leaves the prefix's server
stopped.

usage: plant.py [--arch win32|win64] [--loader WINE] [--set-value EXE] PREFIX
                [--scenario SCENARIO_FILE NAME]
(--loader: the Wine loader that makes the prefix, such as 32-bit Wine under emulation's;
--set-value names the set_value test program, which plants unterminated identifier lists)"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios  # noqa: E402
import wine_scenarios  # noqa: E402
import winetest  # noqa: E402


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--arch", choices=("win32", "win64"), default="win32")
    ap.add_argument("--loader")
    ap.add_argument("--set-value")
    ap.add_argument("prefix")
    ap.add_argument("--scenario", nargs=2, metavar=("SCENARIO_FILE", "NAME"))
    a = ap.parse_args()
    prefix = winetest.Prefix(a.prefix, a.arch)
    if a.loader:
        prefix.loader = prefix.env["WINELOADER"] = a.loader
    prefix.start()
    try:
        if a.scenario:
            chosen = [sc for sc in scenarios.load(a.scenario[0]) if sc.name == a.scenario[1]]
            if not chosen:
                sys.exit(f"no scenario {a.scenario[1]}")
            wine_scenarios.plant(prefix, chosen[0], a.set_value)
        else:
            prefix.import_reg(prefix.clear_lines())
    finally:
        prefix.stop()


if __name__ == "__main__":
    main()
