#!/usr/bin/env python3
"""Runs scenarios under Wine against the real programs: plants each scenario's devices, device
interfaces and record in one project-local prefix, runs the program and checks its exact stdout
bytes. A census scenario runs donglecensus.exe and also checks its exit status and the record
read back; a device-module scenario runs donglectl.exe (and the platform-contract probe) and
checks its stdout, stderr and exit status.

usage: wine_scenarios.py [--arch win32|win64] [--set-value EXE] [--donglectl EXE] [--probe EXE]
                         CENSUS_EXE PREFIX SCENARIO_FILE [NAME ...]
With --arch win64 the programs are the 64-bit builds, run by 64-bit Wine. With --session the
prefix's server was started before (winetest.py start) and is left running. Exits 77 (skipped)
when this machine cannot run that Wine."""

import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_json  # noqa: E402
import scenarios  # noqa: E402
import winetest  # noqa: E402

SCHEMA = check_json.validator()


def property_data(prop):
    if prop.kind == "sz":
        return winetest.reg_hex(1, (prop.ids[0] + "\0").encode("utf-16-le"))
    return winetest.reg_hex(7, winetest.multi_sz(prop.ids, prop.kind == "multi"))


def plant(prefix, sc, set_value_exe=None):
    """Plants the scenario. "reg import" terminates identifier lists; the unterminated ones are
    stored afterwards, byte for byte, by the set_value test program."""
    lines = prefix.clear_lines() + [""] + prefix.record_lines(sc.record_before)
    exact = []
    for dev in sc.devices:
        if not dev.present:
            continue  # plugged in later
        lines += device_lines(prefix, dev, exact)
    prefix.import_reg(lines)
    for instance_id, name, prop in exact:
        if set_value_exe is None:
            raise RuntimeError("an unterminated list needs the set_value test program")
        data = winetest.multi_sz(prop.ids, terminated=False).hex() or "-"
        args = [set_value_exe, winetest.ENUM_PATH + "\\" + instance_id, name, "7", data]
        r = prefix.wine(args)
        if r.returncode != 0 and not r.stderr.strip():
            # Seen once on a loaded machine, as with reg import: it fails without a word.
            print(f"set_value failed without a message (exit {r.returncode}); trying once more",
                  file=sys.stderr)
            r = prefix.wine(args)
        if r.returncode != 0:
            raise RuntimeError(f"set_value failed: {r.stderr!r}")


def device_lines(prefix, dev, exact):
    """The .reg lines of one device and its interfaces; its unterminated lists go to exact."""
    lines = []
    props = {}
    for which, name in (("hardware", "HardwareID"), ("compatible", "CompatibleIDs")):
        if which in dev.props:
            props[name] = property_data(dev.props[which])
            if dev.props[which].kind == "unterminated":
                exact.append((dev.instance_id, name, dev.props[which]))
    lines += prefix.device_lines(dev.instance_id, props)
    for guid, linked in dev.interfaces:
        lines += prefix.interface_lines(dev.instance_id, guid, linked)
    return lines


def crlf_lines(lines, codepage):
    return b"".join(line.encode(f"cp{codepage}") + b"\r\n" for line in lines)


def run_donglectl(prefix, programs, sc):
    """Runs a device-module scenario: donglectl once with the scenario's command, or once per
    operation of its run line (the platform-contract probe for "contract"). Returns the exit
    status (the last one), stdout and stderr, and the failures of runs that should exit 0."""
    interface_class, ops = (sc.run[0], sc.run[1:]) if sc.run else (None, [None])
    exits = sc.exits if sc.exits is not None else [0] * len(ops)
    status, out, err, failures = 0, b"", b"", []
    for op, want in zip(ops, exits if sc.run else [sc.exit]):
        if op is None:
            args = [programs["donglectl"]] + sc.command
        elif op == "contract":
            args = [programs["probe"], interface_class, op]
        elif op.lower() in ("status", "list", "check"):
            args = [programs["donglectl"], op]
        else:
            args = [programs["donglectl"], op, interface_class]
        plugs = [(ms / 1000, device_lines(prefix, d, []))
                 for ms, instance_id, plugged, _ in sc.plugs if plugged
                 for d in sc.devices if d.instance_id == instance_id]
        r = prefix.wine(args, codepage=sc.codepage, steps=[
            (at, lambda lines=lines: prefix.import_reg(lines)) for at, lines in plugs],
            stdout_full=sc.stdout_full)
        status, out, err = r.returncode, out + r.stdout, err + r.stderr
        if op is not None and r.returncode != want % 256:
            failures.append(f"{op}: exit status {r.returncode}, wanted {want % 256}: "
                            f"{r.stderr!r}")
    # A run's operations were each checked against their own exit status.
    return (0 if sc.run else status), out, err, failures


def json_failures(out, names, members=()):
    """Standard output must be one JSON document, ended by a line end, that holds against the
    schema and holds each name and each member (path, value)."""
    try:
        doc = json.loads(out.decode("ascii"))
    except (UnicodeDecodeError, ValueError) as e:
        return [f"stdout is not one JSON document ({e}): {out!r}"]
    failures = [f"schema: {f}" for f in check_json.failures(SCHEMA, doc)]
    for path, value in members:
        try:
            found = scenarios.json_value(doc, path)
        except (KeyError, IndexError, ValueError, TypeError):
            found = "(missing)"
        if found != value:
            failures.append(f"{path} is {found!r}, wanted {value!r}")
    strings = set()

    def collect(value):
        if isinstance(value, str):
            strings.add(value)
        for item in value.values() if isinstance(value, dict) else \
                value if isinstance(value, list) else []:
            collect(item)
    collect(doc)
    failures += [f"the JSON names no {name!r}" for name in names if name not in strings]
    return failures + ([] if out.endswith(b"\r\n") else ["the JSON does not end its line"])


def json_lines_failures(out, names, members):
    """Standard output must be JSON Lines: event objects, each its own line, then the run's
    document, which holds the members; the names may stand in any line."""
    lines = out.split(b"\r\n")
    if not out.endswith(b"\r\n") or len(lines) < 2:
        return [f"stdout is no JSON Lines ended by a line end: {out!r}"]
    failures, strings = [], b""
    for line in lines[:-2]:
        try:
            event = json.loads(line.decode("ascii"))
        except (UnicodeDecodeError, ValueError) as e:
            return [f"a line is no JSON object ({e}): {line!r}"]
        failures += [f"event line schema: {f}" for f in check_json.failures(SCHEMA, event)]
        strings += line
    failures += json_failures(lines[-2] + b"\r\n", [], members)
    names_failing = [n for n in names if json.dumps(n)[1:-1].encode() not in strings]
    return failures + [f"no event line names {n!r}" for n in names_failing]


def usage_failures(prefix, programs, sc):
    """Each usage line: exit 2, the message on stderr, nothing on stdout or one document."""
    failures = []
    for args, message in sc.usage:
        r = prefix.wine([programs["donglectl"]] + args, codepage=sc.codepage)
        name = " ".join(args)[:40]
        err = crlf_lines(scenarios.usage_stderr(message), sc.codepage)
        if r.returncode != 2 or r.stderr != err:
            failures.append(f"{name}: exit status {r.returncode}, stderr {r.stderr!r}")
        if any(a.lower() == "--json" for a in args):
            failures += [f"{name}: {f}" for f in json_failures(
                r.stdout, [], [("exit", 2), ("error.name", "usage"), ("error.text", message)])]
        elif r.stdout:
            failures.append(f"{name}: stdout {r.stdout!r}")
    return failures


def check(prefix, programs, sc, set_value_exe=None):
    """Returns a list of failures (empty when the scenario passed). programs names the census
    program ("census"), donglectl ("donglectl") and the platform-contract probe ("probe")."""
    plant(prefix, sc, set_value_exe)
    wanted = crlf_lines(sc.expect, sc.codepage)
    if sc.usage:
        return usage_failures(prefix, programs, sc)
    if sc.run or sc.command is not None:
        status, out, err, failures = run_donglectl(prefix, programs, sc)
        if sc.json_lines:
            failures += json_lines_failures(out, sc.json_names or [], sc.json_has)
        elif sc.json_names is not None or sc.json_has:
            failures += json_failures(out, sc.json_names or [], sc.json_has)
        elif out != wanted:
            failures.append(f"stdout {out!r}, wanted {wanted!r}")
        err_lines = err.decode(f"cp{sc.codepage}").split("\r\n")
        if err_lines[-1] != "" or not scenarios.lines_match(err_lines[:-1], sc.stderr):
            failures.append(f"stderr {err!r}, wanted {crlf_lines(sc.stderr, sc.codepage)!r}")
        if status != sc.exit % 256:
            failures.append(f"exit status {status}, wanted {sc.exit % 256}")
        if sc.record is not None:
            record = prefix.read_record()
            if record != (None if sc.record == "absent" else int(sc.record)):
                failures.append(f"record {record}, wanted {sc.record}")
        return failures
    r = prefix.wine([programs["census"]], codepage=sc.codepage)
    failures = []
    if r.stdout != wanted:
        failures.append(f"stdout {r.stdout!r}, wanted {wanted!r}")
    if r.returncode != sc.result % 256:
        failures.append(f"exit status {r.returncode}, wanted {sc.result % 256}")
    if sc.restart:
        prefix.start()  # ends the running server first: a restart
    record = prefix.read_record()
    want_record = None if sc.record == "absent" else int(sc.record)
    if record != want_record:
        failures.append(f"record {record}, wanted {want_record}")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--arch", choices=("win32", "win64"), default="win32")
    ap.add_argument("--session", action="store_true")
    ap.add_argument("--set-value", help="the set_value test program")
    ap.add_argument("--donglectl", help="donglectl.exe, for the device-module scenarios")
    ap.add_argument("--probe", help="the platform-contract probe")
    ap.add_argument("census_exe")
    ap.add_argument("prefix")
    ap.add_argument("scenario_file")
    ap.add_argument("names", nargs="*")
    a = ap.parse_args()
    programs = {"census": a.census_exe, "donglectl": a.donglectl, "probe": a.probe}
    path, names = a.scenario_file, set(a.names)
    winetest.skip_unless_runnable(a.arch)
    passed = failed = skipped = 0
    with winetest.Prefix(a.prefix, a.arch).session(started=a.session) as prefix:
        for sc in scenarios.load(path):
            if names and sc.name not in names:
                continue
            if sc.sim_only:
                skipped += 1
                continue
            failures = check(prefix, programs, sc, a.set_value)
            if failures:
                failed += 1
                print(f"FAIL {sc.name}")
                for f in failures:
                    print(f"     {f}")
            else:
                passed += 1
                print(f"ok   {sc.name}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
