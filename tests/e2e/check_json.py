#!/usr/bin/env python3
"""Holds donglectl's JSON documents against the schema it ships (docs/donglectl.schema.json),
with a real validator (Debian's python3-jsonschema), never by text.

usage: check_json.py SCHEMA PATH ...   every document in each file, and in each folder's *.json
Each file holds one document (the unit tests keep what each scenario printed)."""

import json
import os
import sys

import jsonschema

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                      "donglectl.schema.json")


def validator(path=SCHEMA):
    with open(path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(schema)


def failures(check, doc):
    """Why a parsed document does not hold against the schema: one line per breach."""
    return [f"{'/'.join(str(p) for p in e.absolute_path) or '(top)'}: {e.message}"
            for e in sorted(check.iter_errors(doc), key=lambda e: list(e.absolute_path))]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    check = validator(sys.argv[1])
    files = []
    for path in sys.argv[2:]:
        if os.path.isdir(path):
            files += sorted(os.path.join(path, n) for n in os.listdir(path) if n.endswith(".json"))
        else:
            files.append(path)
    passed = failed = 0
    for name in files:
        with open(name, "rb") as f:
            try:
                found = failures(check, json.loads(f.read().decode("ascii")))
            except ValueError as e:
                found = [f"not one JSON document in ASCII: {e}"]
        for line in found:
            print(f"FAIL {os.path.basename(name)}: {line}")
        failed += bool(found)
        passed += not found
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
