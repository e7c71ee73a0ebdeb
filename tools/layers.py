#!/usr/bin/env python3
"""Checks the program's house from its includes: each folder includes only from the folders below
it (donglectl -> control -> census -> platform), and no source file reaches itself again through
the includes of its own folder. So that the includes tell who calls whom, each source but an
entry (main.cpp) defines what its own header declares and includes that header first. Prints
each breach; exits 1 when there is one."""

import os
import re
import sys

LAYERS = ["platform", "census", "control", "donglectl"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    graph, breaches = {}, []
    for layer in LAYERS:
        for name in sorted(os.listdir(os.path.join(root, layer))):
            if not name.endswith((".h", ".cpp")):
                continue
            path = f"{layer}/{name}"
            with open(os.path.join(root, path), encoding="utf-8") as f:
                includes = INCLUDE.findall(f.read())
            graph[path] = [i for i in includes if i.split("/")[0] == layer]
            own = f"{layer}/{name[:-4]}.h"
            if name.endswith(".cpp") and name != "main.cpp" and includes[:1] != [own]:
                breaches.append(f"{path} does not include its own header {own} first")
            for inc in includes:
                top = inc.split("/")[0]
                if top in LAYERS and LAYERS.index(top) > LAYERS.index(layer):
                    breaches.append(f"{path} includes {inc}, from a folder above its own")
    # A header and its source are one unit: a circle is a unit that reaches itself.
    def unit(path):
        return os.path.splitext(path)[0]
    edges = {}
    for path, incs in graph.items():
        edges.setdefault(unit(path), set()).update(unit(i) for i in incs if unit(i) != unit(path))

    def reaches(start):
        seen, todo = set(), list(edges.get(start, ()))
        while todo:
            u = todo.pop()
            if u == start:
                return True
            if u not in seen:
                seen.add(u)
                todo.extend(edges.get(u, ()))
        return False
    breaches += [f"{u} reaches itself through its includes" for u in sorted(edges) if reaches(u)]
    for b in breaches:
        print(b)
    print(f"layers: {len(graph)} files, {'clean' if not breaches else f'{len(breaches)} breaches'}")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
