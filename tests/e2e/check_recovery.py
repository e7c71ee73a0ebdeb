#!/usr/bin/env python3
"""Windows' next start finishes an interrupted reset, under Wine: the record, the recovery's copy
and its auto-start service planted as an interrupted reset leaves them, the prefix is started
again (Wine starts auto-start services with it). While the node's ConfigFlags say disabled,
everything stays; once they say enabled, the next start leaves no record, service or copy.

usage: check_recovery.py [--arch win32|win64] DONGLECTL_EXE PREFIX
Exits 77 (skipped) when this machine cannot run that Wine."""

import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetest  # noqa: E402

GUID = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"
NODE = r"USB\VID_7B2E&PID_2F40\5&1A2B3C4D&0&2"
FOLDER = r"C:\ProgramData\donglectl-recovery"
SERVICE = "donglectlRecovery"
KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\donglectl"


def fingerprint(data):
    """The program's fingerprint of a file: FNV-1a over its bytes."""
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def node_lines(prefix, disabled):
    return prefix.device_lines(NODE, {
        "HardwareID": winetest.reg_hex(7, winetest.multi_sz(["USB\\VID_7B2E&PID_2F40&REV_0100"])),
        "ConfigFlags": f"dword:{1 if disabled else 0:08x}"})


def service_state(prefix):
    """The service's state and exit code as sc tells them; None when there is no such service."""
    out = prefix.wine(["sc", "query", SERVICE]).stdout.decode(errors="replace")
    fields = {k.strip(): v for k, v in (line.split(":", 1) for line in out.splitlines()
                                        if ":" in line)}
    if "STATE" not in fields:
        return None
    return fields["STATE"].split()[1], fields["WIN32_EXIT_CODE"].split()[0]


def start_windows(prefix):
    """Starts the prefix again and waits, at most 60 s, until the recovery service has stopped or
    gone."""
    prefix.start()
    for _ in range(120):
        state = service_state(prefix)
        if state is None or state[0] == "STOPPED":
            return state
        time.sleep(0.5)
    raise RuntimeError("the recovery service did not stop within 60 s")


def recorded(prefix):
    out = prefix.wine(["reg", "query", KEY.replace("HKEY_LOCAL_MACHINE", "HKLM") +
                       r"\InterruptedResets"]).stdout.decode(errors="replace")
    return GUID in out


def main():
    ap = argparse.ArgumentParser(usage=__doc__)
    ap.add_argument("--arch", choices=("win32", "win64"), default="win32")
    ap.add_argument("donglectl")
    ap.add_argument("prefix")
    a = ap.parse_args()
    winetest.skip_unless_runnable(a.arch)
    prefix = winetest.Prefix(a.prefix, a.arch)
    folder = os.path.join(prefix.path, "drive_c", "ProgramData", "donglectl-recovery")
    program = os.path.join(folder, "donglectl.exe")
    failures = []
    prefix.start()
    try:
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(a.donglectl, program)
        with open(program, "rb") as f:
            fp = fingerprint(f.read())
        prefix.planted.add(KEY)
        prefix.import_reg(prefix.clear_lines() + [""] + node_lines(prefix, True) + [
            f"[{KEY}\\InterruptedResets]",
            f'"{GUID}"={winetest.reg_hex(7, winetest.multi_sz([NODE]))}', "",
            f"[{KEY}\\Recovery]",
            f'"Program"={winetest.reg_string(FOLDER + chr(92) + "donglectl.exe")}',
            f'"Fingerprint"=dword:{fp:08x}', ""])
        r = prefix.wine(["sc", "create", SERVICE, "binPath=",
                         f'"{FOLDER}\\donglectl.exe" recover', "start=", "auto"])
        if r.returncode != 0:
            raise RuntimeError(f"sc create failed: {r.stdout!r} {r.stderr!r}")

        # The node reads back disabled: everything stays for the next start.
        state = start_windows(prefix)
        if state != ("STOPPED", "31"):
            failures.append(f"a node left disabled: the service is {state}, wanted stopped, 31")
        if not recorded(prefix) or not os.path.exists(program):
            failures.append("a node left disabled: the record or the copy is gone")

        # Enabled now: the next start finishes the reset and removes the recovery.
        prefix.import_reg(node_lines(prefix, False))
        state = start_windows(prefix)
        if state is not None or recorded(prefix):
            failures.append(f"after the recovery: the service is {state}, the record "
                            f"{'stays' if recorded(prefix) else 'is gone'}")
        prefix.start()  # what could only go at a restart
        if os.path.exists(folder):
            failures.append(f"after the recovery: {os.listdir(folder)} left in {FOLDER}")
    finally:
        prefix.wine(["sc", "delete", SERVICE])
        shutil.rmtree(folder, ignore_errors=True)
        prefix.import_reg(prefix.clear_lines())
    return winetest.report(failures)


if __name__ == "__main__":
    sys.exit(main())
