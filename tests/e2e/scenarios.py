"""Reads the scenario files of tests/scenarios (their format is described at the top of
census.txt).

usage: scenarios.py --wine-names FILE    the names of the scenarios that run under Wine"""

import re
import sys

SIM_ONLY_WORDS = {"not-present", "hardware-fails", "compatible-fails", "fail-device-list",
                  "fail-key-creation"}


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
        self.props = {}  # "hardware" / "compatible" -> Property
        self.interfaces = []  # (class GUID text, linked)


class Scenario:
    def __init__(self, name):
        self.name = name
        self.sim_only = False
        self.codepage = 1252
        self.record_before = "absent"
        self.devices = []
        self.expect = []
        self.result = None
        self.record = None
        self.restart = False
        self.run = None  # for the device module: the interface class and the operations


def load(path):
    scenarios = []
    cur = None
    dev = None
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            word, _, rest = line.strip().partition(" ")
            if word == "scenario":
                cur = Scenario(rest)
                dev = None
                scenarios.append(cur)
                continue
            if cur is None:
                raise ValueError(f"{path}:{n}: text before the first scenario")
            if word in SIM_ONLY_WORDS and not cur.sim_only:
                raise ValueError(f"{path}:{n}: '{word}' needs sim-only")
            if word == "sim-only":
                cur.sim_only = True
            elif word == "codepage":
                cur.codepage = int(rest)
            elif word == "record-before":
                cur.record_before = rest
            elif word == "device":
                dev = Device(rest)
                cur.devices.append(dev)
            elif word == "times":
                # The device stands n times, "{#}" in its instance ID counting from 0.
                template = cur.devices.pop()
                for k in range(int(rest)):
                    copy = Device(template.instance_id.replace("{#}", str(k)))
                    copy.props = template.props
                    copy.interfaces = template.interfaces
                    cur.devices.append(copy)
                dev = None
            elif word in ("hardware", "compatible"):
                dev.props[word] = Property("multi", id_list(rest))
            elif word in ("hardware-sz", "compatible-sz"):
                dev.props[word[:-3]] = Property("sz", [expand(rest)])
            elif word in ("hardware-unterminated", "compatible-unterminated"):
                dev.props[word.split("-")[0]] = Property("unterminated", id_list(rest))
            elif word in ("interface", "interface-unlinked"):
                dev.interfaces.append((rest, word == "interface"))
            elif word == "run":
                cur.run = rest.split()
            elif word in SIM_ONLY_WORDS:
                pass
            elif word == "expect":
                cur.expect.append(expand(rest))
            elif word == "expect-times":
                count, _, text = rest.partition(" ")
                cur.expect += [expand(text)] * int(count)
            elif word == "result":
                cur.result = int(rest)
            elif word == "restart":
                cur.restart = True
            elif word == "record":
                cur.record = rest
            else:
                raise ValueError(f"{path}:{n}: unknown word '{word}'")
    return scenarios


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "--wine-names":
        sys.exit(__doc__)
    for sc in load(sys.argv[2]):
        if not sc.sim_only:
            print(sc.name)
