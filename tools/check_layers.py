#!/usr/bin/env python3
"""Checks that each folder includes only its own layer and the layers below.

    python3 tools/check_layers.py [--graph] [ROOT]

Prints every include that runs against the direction and exits 1 when there
is one; --graph also prints the include counts between folders. The console
may include only the embedding header of the start-up layer.
"""
import collections
import os
import re
import sys

# Lowest first. Folders of one layer may include each other.
LAYERS = [
    ["runtime"],
    ["runtime/datatypes", "runtime/evaluator", "runtime/io"],
    ["runtime/startup"],
    ["console"],
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
CONSOLE_MAY_INCLUDE = {"runtime/startup/embed.h"}
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def sources(root):
    for folder in RANK:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith((".h", ".cpp")):
                yield folder, os.path.join(folder, name)


def main(argv):
    graph = "--graph" in argv
    args = [a for a in argv if a != "--graph"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    edges = collections.Counter()
    against = []
    for folder, rel in sources(root):
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1)
                to = os.path.dirname(target)
                if to not in RANK:
                    continue
                if to != folder:
                    edges[(folder, to)] += 1
                upward = RANK[to] > RANK[folder]
                console_reach = folder == "console" and to != "console" and target not in CONSOLE_MAY_INCLUDE
                if upward or console_reach:
                    against.append(f"{rel}:{number}: includes {target}")
    if graph:
        for (a, b), n in sorted(edges.items()):
            print(f"{a:20} -> {b:20} {n:4}")
    for line in against:
        print(line)
    print(f"{len(against)} includes against the layer direction")
    return 1 if against else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
