#!/usr/bin/env python3
"""Sets up a Wine prefix for a run of the program by hand: removes every device planted earlier
and, with --scenario, plants one scenario's devices and record.

usage: plant.py PREFIX [--scenario SCENARIO_FILE NAME]"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenarios  # noqa: E402
import wine_scenarios  # noqa: E402
import winetest  # noqa: E402


def main():
    prefix = winetest.Prefix(sys.argv[1])
    prefix.start()
    try:
        if len(sys.argv) == 5 and sys.argv[2] == "--scenario":
            chosen = [sc for sc in scenarios.load(sys.argv[3]) if sc.name == sys.argv[4]]
            if not chosen:
                sys.exit(f"no scenario {sys.argv[4]}")
            wine_scenarios.plant(prefix, chosen[0])
        else:
            prefix.import_reg(prefix.clear_lines())
    finally:
        prefix.stop()


if __name__ == "__main__":
    main()
