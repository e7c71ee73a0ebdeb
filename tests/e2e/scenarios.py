"""Reads the scenario files of tests/scenarios (the format is described at the top of
census.txt). This is the format's one reader: the Wine tests use it directly, and the unit tests
read the normalised form it writes as JSON.

usage: scenarios.py --wine-names FILE     the names of the scenarios that run under Wine
       scenarios.py --json FILE OUT       the scenarios of FILE as JSON, for the unit tests"""

import json
import re
import sys

SIM_ONLY_WORDS = {"not-present", "hardware-fails", "compatible-fails", "fail-device-list",
                  "fail-key-creation", "parent", "installer-fails", "defers-changes", "windows",
                  "wow64", "not-administrator", "vetoes", "fails-after-writing",
                  "not-disableable", "readings", "installer-refuses", "arm64", "hide-proc",
                  "unplug-at", "console-event", "disabled", "on-hub", "rights-unknown",
                  "installer-ms", "not-disableable-written", "profile-key-missing",
                  "children-return", "status-fails", "problem", "problem-bit", "notifications",
                  "plug-silent-at"}
DEVICE_WORDS = {"hardware", "compatible", "hardware-sz", "compatible-sz",
                "hardware-unterminated", "compatible-unterminated", "interface",
                "interface-unlinked", "not-present", "hardware-fails", "compatible-fails",
                "times", "parent", "installer-fails", "defers-changes", "vetoes",
                "fails-after-writing", "not-disableable", "disabled", "on-hub",
                "not-disableable-written", "profile-key-missing", "status-fails", "problem",
                "problem-bit"}
# How the class installer treats a change of a node that is not in the tree (the documentation
# does not say): every switching scenario runs under each reading unless it names some.
READINGS = ["made", "written-failed", "refused"]
# The host controller and its root hub that "on-hub" hangs a device from: its grandparent then
# has a long instance ID. The controller is the tree's first node.
CONTROLLER = "PCI\\VEN_8086&DEV_A36D\\3&11583659&0&A0"
ROOT_HUB = "USB\\ROOT_HUB30\\4&2A1B3C&0&0"
# Console control events a scenario may raise during a pause.
CONSOLE_EVENTS = {"ctrl-c": 0, "ctrl-break": 1, "close": 2, "logoff": 5, "shutdown": 6}
# When the nodes below an enabled device come back (the documentation names no moment).
CHILDREN_RETURN = {"at-once": 0, "next-list": 1, "after-next-list": 2}
# The exit status of a run that the system ended (a console event, a logoff).
ENDED = 0xFFFFFFFF
# State changes as installer-fails names them: (DICS_*, DICS_FLAG_*).
CHANGES = {"disable": (2, 1), "enable-global": (1, 1), "enable-config": (1, 2)}
# Steps between the device module's operations, on the simulated platform only.
# start: Windows starts again and runs its auto-start services, before anyone logs on.
STEPS = re.compile(r"^(unplug:|plug:).+$|^restart$|^start$")

# Error codes a scenario may name instead of giving their number.
ERRORS = {
    "ERROR_FILE_NOT_FOUND": 2, "ERROR_ACCESS_DENIED": 5, "ERROR_INVALID_HANDLE": 6,
    "ERROR_NOT_ENOUGH_MEMORY": 8, "ERROR_INVALID_DATA": 13, "ERROR_INVALID_PARAMETER": 87,
    "ERROR_INSUFFICIENT_BUFFER": 122, "ERROR_NO_MORE_ITEMS": 259,
    "ERROR_ELEVATION_REQUIRED": 740, "ERROR_NOT_FOUND": 1168, "ERROR_CANCELLED": 1223,
    "ERROR_TIMEOUT": 1460, "ERROR_SUCCESS_REBOOT_REQUIRED": 3010, "ERROR_GEN_FAILURE": 31,
    "ERROR_NO_SUCH_DEVINST": 0xE000020B, "ERROR_INVALID_CLASS_INSTALLER": 0xE000020D,
    "ERROR_NOT_DISABLEABLE": 0xE0000231, "ERROR_IN_WOW64": 0xE0000235,
}

GUID = re.compile(r"^\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}$")


class Malformed(ValueError):
    pass


def expand(text):
    """Replaces each {X*n} by n copies of X."""
    return re.sub(r"\{(.+?)\*(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text)


def id_list(text):
    text = expand(text)
    return [] if text == "" else text.split(" | ")


class Property:
    """An identifier property: kind is 'multi', 'sz' or 'unterminated'."""

    def __init__(self, kind, ids):
        self.kind = kind
        self.ids = ids


class Device:
    def __init__(self, instance_id):
        self.instance_id = instance_id
        self.present = True
        self.props = {}  # "hardware" / "compatible" -> Property
        self.errors = {}  # "hardware" / "compatible" -> error code
        self.interfaces = []  # (class GUID text, linked)
        self.parent = ""  # instance ID of the parent node; empty: the root of the tree
        self.installer_fails = []  # (state change, scope, error)
        self.fails_after_writing = []  # (state change, scope, error)
        self.vetoes = []  # (state change, scope)
        self.defers_changes = False
        self.disableable = True
        self.disabled = False  # its own global disable setting is set
        self.disable_refusal_writes = False  # not disableable, in ReactOS's order
        self.profile_key_missing = False
        self.status_error = 0  # the status read fails with this CONFIGRET
        self.problem = 0  # the problem number its status reports
        self.problem_bit = False  # with DN_HAS_PROBLEM


class Scenario:
    def __init__(self, name):
        self.name = name
        self.sim_only = False
        self.codepage = 1252
        self.record_before = "absent"
        self.device_list_error = 0
        self.key_creation_error = 0
        self.devices = []
        self.expect = []
        self.result = None
        self.restart = False
        self.record = None
        self.run = []  # for the device module: the interface class and the operations
        self.windows = [7, 8]  # the Windows settings it runs on (simulated platform)
        self.command = None  # donglectl's arguments, for one run of it
        self.exit = 0  # its exit status
        self.stderr = []  # the lines it writes to standard error
        self.wow64 = False
        self.administrator = True
        self.arm64 = False
        self.installer_refuses = 0
        self.hidden_procs = []
        self.readings = list(READINGS)
        self.exits = None  # the exit status of each operation of run (default: all 0)
        self.plugs = []  # (ms, instance ID, plugged)
        self.console_events = []  # (pause number, event)
        self.json_names = None  # stdout is one JSON document naming these strings
        self.json_has = []  # (path, value): members that JSON document holds
        self.usage = []  # (arguments, message): usage errors, each one run of donglectl
        self.device_list_failures = 0  # how many device lists fail (0: every one)
        self.rights_unknown = ""  # what makes the rights check fail: "sid", "membership"
        self.stdout_full = False  # the command's standard output is a full disk (/dev/full)
        self.installer_ms = 1000  # how long each class-installer call takes
        self.children_return = 1
        self.notifications = []  # refused, window, lost, duplicated
        self.json_lines = False  # stdout is JSON Lines, the run's document last


def arguments(text):
    """Command-line arguments separated by spaces: {X*n} repeats, \\xNN is that byte's
    character."""
    return [re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), expand(a))
            for a in text.split()]


def number(text, what):
    if text == "ended":
        return ENDED
    if text in ERRORS:
        return ERRORS[text]
    if not text.isdigit():
        raise Malformed(f"{what}: not a number or a known error name: '{text}'")
    return int(text)


def parse_line(cur, word, rest):
    """Applies one line to the scenario it belongs to."""
    dev = cur.devices[-1] if cur.devices else None
    if word in SIM_ONLY_WORDS and not cur.sim_only:
        raise Malformed(f"'{word}' needs sim-only before it")
    if word in DEVICE_WORDS and dev is None:
        raise Malformed(f"'{word}' outside a device")
    if word == "sim-only":
        cur.sim_only = True
    elif word == "codepage":
        cur.codepage = number(rest, word)
    elif word == "record-before":
        if rest not in ("absent", "key") and not rest.isdigit():
            raise Malformed(f"record-before takes a number, 'key' or 'absent': '{rest}'")
        cur.record_before = rest
    elif word == "device":
        cur.devices.append(Device(rest))
    elif word == "times":
        # The device stands n times, "{#}" in its instance ID counting from 0.
        template = cur.devices.pop()
        if "{#}" not in template.instance_id:
            raise Malformed("'times' needs {#} in the device's instance ID")
        for k in range(number(rest, word)):
            copy = Device(template.instance_id.replace("{#}", str(k)))
            copy.present, copy.props, copy.errors = template.present, template.props, \
                template.errors
            copy.interfaces, copy.parent = template.interfaces, template.parent
            for attr in ("installer_fails", "fails_after_writing", "vetoes", "defers_changes",
                         "disableable", "disabled", "disable_refusal_writes",
                         "profile_key_missing"):
                setattr(copy, attr, getattr(template, attr))
            cur.devices.append(copy)
    elif word in ("hardware", "compatible"):
        dev.props[word] = Property("multi", id_list(rest))
    elif word in ("hardware-sz", "compatible-sz"):
        dev.props[word[:-3]] = Property("sz", [expand(rest)])
    elif word in ("hardware-unterminated", "compatible-unterminated"):
        dev.props[word.split("-")[0]] = Property("unterminated", id_list(rest))
    elif word in ("interface", "interface-unlinked"):
        if not GUID.match(rest):
            raise Malformed(f"not a GUID: '{rest}'")
        linked = word == "interface"
        if any(other != linked for _, other in dev.interfaces) and not cur.sim_only:
            raise Malformed("linked and unlinked interfaces on one device need sim-only")
        dev.interfaces.append((rest, linked))
    elif word == "not-present":
        dev.present = False
    elif word == "parent":
        dev.parent = rest
    elif word == "on-hub":
        dev.parent = ROOT_HUB
    elif word in ("installer-fails", "fails-after-writing"):
        change, _, error = rest.partition(" ")
        if change not in CHANGES:
            raise Malformed(f"{word} takes one of {', '.join(CHANGES)}: '{change}'")
        getattr(dev, word.replace("-", "_")).append(CHANGES[change] + (number(error, word),))
    elif word == "vetoes":
        if rest not in CHANGES:
            raise Malformed(f"vetoes takes one of {', '.join(CHANGES)}: '{rest}'")
        dev.vetoes.append(CHANGES[rest])
    elif word == "defers-changes":
        dev.defers_changes = True
    elif word in ("not-disableable", "not-disableable-written"):
        dev.disableable = False
        dev.disable_refusal_writes = word == "not-disableable-written"
    elif word == "profile-key-missing":
        dev.profile_key_missing = True
    elif word == "status-fails":
        dev.status_error = number(rest, word)
    elif word in ("problem", "problem-bit"):
        dev.problem = number(rest, word)
        dev.problem_bit = word == "problem-bit"
    elif word == "installer-ms":
        cur.installer_ms = number(rest, word)
    elif word == "children-return":
        if rest not in CHILDREN_RETURN:
            raise Malformed(f"children-return takes one of {', '.join(CHILDREN_RETURN)}")
        cur.children_return = CHILDREN_RETURN[rest]
    elif word == "disabled":
        dev.disabled = True
    elif word == "readings":
        cur.readings = rest.split()
        if not cur.readings or any(r not in READINGS for r in cur.readings):
            raise Malformed(f"readings takes some of {', '.join(READINGS)}: '{rest}'")
    elif word == "installer-refuses":
        cur.installer_refuses = number(rest, word)
    elif word == "arm64":
        cur.arm64 = True
    elif word == "hide-proc":
        cur.hidden_procs.append(rest)
    elif word == "exits":
        cur.exits = [number(t, word) for t in rest.split()]
    elif word in ("plug-at", "unplug-at", "plug-silent-at"):
        # A device plugged in later is not present until then (under Wine: not planted yet).
        ms, _, instance_id = rest.partition(" ")
        plugged = word != "unplug-at"
        cur.plugs.append((number(ms, word), instance_id, plugged, word == "plug-silent-at"))
        for d in cur.devices:
            if d.instance_id == instance_id and plugged:
                d.present = False
    elif word == "notifications":
        cur.notifications = rest.split()
        if any(n not in ("refused", "window", "lost", "duplicated") for n in cur.notifications):
            raise Malformed("notifications takes refused, window, lost, duplicated")
    elif word == "json-lines":
        cur.json_lines = True
    elif word == "console-event":
        pause, _, event = rest.partition(" ")
        if event not in CONSOLE_EVENTS:
            raise Malformed(f"console-event takes a pause and one of {', '.join(CONSOLE_EVENTS)}")
        cur.console_events.append((number(pause, word), CONSOLE_EVENTS[event]))
    elif word == "windows":
        if rest not in ("7", "8"):
            raise Malformed(f"windows takes 7 (before Windows 8) or 8: '{rest}'")
        cur.windows = [int(rest)]
    elif word in ("hardware-fails", "compatible-fails"):
        dev.errors[word.split("-")[0]] = number(rest, word)
    elif word == "fail-device-list":
        error, _, times = rest.partition(" ")
        cur.device_list_error = number(error, word)
        cur.device_list_failures = number(times, word) if times else 0
    elif word == "stdout-full":
        cur.stdout_full = True
    elif word == "rights-unknown":
        if rest not in ("", "membership"):
            raise Malformed("rights-unknown takes nothing, or membership")
        cur.rights_unknown = rest or "sid"
    elif word == "json-has":
        path, _, value = rest.partition(" ")
        try:
            cur.json_has.append((path, json.loads(value)))
        except ValueError as e:
            raise Malformed(f"json-has takes a path and a JSON value: {e}") from None
    elif word == "usage":
        args, sep, message = (" " + rest).partition(" => ")
        if not sep:
            raise Malformed("usage takes the arguments, ' => ' and the message")
        cur.usage.append((arguments(args), message))
    elif word == "fail-key-creation":
        cur.key_creation_error = number(rest, word)
    elif word == "run":
        cur.run = rest.split()
        if not cur.run or not GUID.match(cur.run[0]):
            raise Malformed("run takes an interface class GUID, then the operations")
        if any(STEPS.match(op) for op in cur.run[1:]) and not cur.sim_only:
            raise Malformed("unplug:, plug: and restart need sim-only before them")
    elif word == "command":
        cur.command = arguments(rest)
    elif word == "exit":
        cur.exit = number(rest, word)
    elif word == "stderr":
        cur.stderr.append(expand(rest))
    elif word == "wow64":
        cur.wow64 = True
    elif word == "not-administrator":
        cur.administrator = False
    elif word == "json-names":
        cur.json_names = (cur.json_names or []) + [expand(rest)]
    elif word == "expect":
        cur.expect.append(expand(rest))
    elif word == "expect-times":
        count, _, text = rest.partition(" ")
        cur.expect += [expand(text)] * number(count, word)
    elif word == "result":
        cur.result = number(rest, word)
    elif word == "restart":
        cur.restart = True
    elif word == "record":
        if rest != "absent" and not rest.isdigit():
            raise Malformed(f"record takes a number or 'absent': '{rest}'")
        cur.record = rest
    else:
        raise Malformed(f"unknown word '{word}'")


def load(path):
    scenarios = []
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            word, _, rest = line.strip().partition(" ")
            try:
                if word == "scenario":
                    if not re.fullmatch(r"[a-z0-9-]+", rest):
                        raise Malformed(f"a scenario's name is one word of a-z, 0-9 and '-': "
                                        f"'{rest}'")
                    if any(sc.name == rest for sc in scenarios):
                        raise Malformed(f"a second scenario named '{rest}'")
                    scenarios.append(Scenario(rest))
                elif not scenarios:
                    raise Malformed("text before the first scenario")
                else:
                    parse_line(scenarios[-1], word, rest)
            except Malformed as e:
                raise Malformed(f"{path}:{n}: {e}") from None
    for sc in scenarios:
        if any(d.parent == ROOT_HUB for d in sc.devices):
            hub = Device(ROOT_HUB)
            hub.parent = CONTROLLER
            sc.devices[:0] = [Device(CONTROLLER), hub]
        ops = [op for op in sc.run[1:] if not STEPS.match(op)]
        if sc.exits is not None and len(sc.exits) != len(ops):
            raise Malformed(f"{path}: scenario '{sc.name}' gives {len(sc.exits)} exit statuses "
                            f"for {len(ops)} operations")
        if sc.run and sc.command is not None:
            raise Malformed(f"{path}: scenario '{sc.name}' has both run and command")
        if not sc.run and sc.command is None and not sc.usage and \
                (sc.result is None or sc.record is None):
            raise Malformed(f"{path}: scenario '{sc.name}' needs a result and a record")
    return scenarios


def switches(sc):
    """Whether the scenario asks the class installer for anything."""
    words = sc.run[1:] if sc.run else (sc.command or [])[:1]
    return any(w.lower() in ("disable", "enable", "reset") for w in words)


def to_json(sc):
    """The normalised form the unit tests read, which run every scenario: every default filled
    in, error names resolved, repetitions expanded, identifier lists split. Text stays UTF-8; the reader converts it to the
    scenario's code page."""
    def prop(dev, which):
        p = dev.props.get(which)
        return None if p is None else {"kind": p.kind, "ids": p.ids}
    return {
        "name": sc.name, "sim_only": sc.sim_only, "windows": sc.windows,
        "codepage": sc.codepage,
        "record_before": sc.record_before, "device_list_error": sc.device_list_error,
        "key_creation_error": sc.key_creation_error, "restart": sc.restart,
        "devices": [{
            "instance_id": d.instance_id, "present": d.present,
            "hardware": prop(d, "hardware"), "compatible": prop(d, "compatible"),
            "hardware_error": d.errors.get("hardware", 0),
            "compatible_error": d.errors.get("compatible", 0),
            "interfaces": [{"guid": g, "linked": linked} for g, linked in d.interfaces],
            "parent": d.parent, "defers_changes": d.defers_changes,
            "installer_fails": [{"state": st, "scope": sp, "error": e}
                                for st, sp, e in d.installer_fails],
            "fails_after_writing": [{"state": st, "scope": sp, "error": e}
                                    for st, sp, e in d.fails_after_writing],
            "vetoes": [{"state": st, "scope": sp} for st, sp in d.vetoes],
            "disableable": d.disableable, "disabled": d.disabled,
            "disable_refusal_writes": d.disable_refusal_writes,
            "profile_key_missing": d.profile_key_missing, "status_error": d.status_error,
            "problem": d.problem, "problem_bit": d.problem_bit,
        } for d in sc.devices],
        "expect": sc.expect, "result": sc.result or 0, "record": sc.record or "",
        "run": sc.run, "command": sc.command, "exit": sc.exit, "stderr": sc.stderr,
        "wow64": sc.wow64, "administrator": sc.administrator, "arm64": sc.arm64,
        "installer_refuses": sc.installer_refuses, "hidden_procs": sc.hidden_procs,
        "readings": sc.readings if sc.sim_only and switches(sc) else ["made"],
        "exits": sc.exits if sc.exits is not None else [0] * len(
            [op for op in sc.run[1:] if not STEPS.match(op)]),
        "plugs": [{"at": ms, "instance_id": i, "plugged": p, "silent": q}
                  for ms, i, p, q in sc.plugs],
        "notifications": sc.notifications, "json_lines": sc.json_lines,
        "console_events": [{"pause": p, "event": e} for p, e in sc.console_events],
        "json_names": sc.json_names,
        "json_has": [{"path": p, "value": v} for p, v in sc.json_has],
        "usage": [{"args": a, "message": m} for a, m in sc.usage],
        "device_list_failures": sc.device_list_failures, "rights_unknown": sc.rights_unknown,
        "stdout_full": sc.stdout_full, "installer_ms": sc.installer_ms,
        "children_return": sc.children_return,
    }


def json_value(doc, path):
    """The member at a dotted path ("passes.0.count"), or KeyError."""
    for part in path.split("."):
        doc = doc[int(part)] if isinstance(doc, list) else doc[part]
    return doc


# In a stderr line, where the system's text for an error stands: each Windows words it its own way
# (Wine too).
SYSTEM_TEXT = "<the system's text>"


def lines_match(lines, wanted):
    """The lines are those wanted, a wanted line's SYSTEM_TEXT standing for any text."""
    def match(line, w):
        before, sep, after = w.partition(SYSTEM_TEXT)
        return line == w if not sep else (line.startswith(before) and line.endswith(after) and
                                          len(line) >= len(before) + len(after))
    return len(lines) == len(wanted) and all(match(a, w) for a, w in zip(lines, wanted))


def usage_stderr(message):
    """What donglectl writes to standard error for a usage error."""
    return [f"donglectl: {message}", 'Run "donglectl --help" for usage.']


def main():
    try:
        if len(sys.argv) == 3 and sys.argv[1] == "--wine-names":
            for sc in load(sys.argv[2]):
                if not sc.sim_only:
                    print(sc.name)
            return 0
        if len(sys.argv) == 4 and sys.argv[1] == "--json":
            data = [to_json(sc) for sc in load(sys.argv[2])]
            with open(sys.argv[3], "w", encoding="utf-8") as f:
                json.dump(data, f, ensure_ascii=False, indent=1)
                f.write("\n")
            return 0
    except Malformed as e:
        sys.exit(f"scenarios.py: {e}")
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
