#!/usr/bin/env python3
"""Checks that each folder includes only its own layer and the layers below.

    python3 tools/check_layers.py [--graph] [ROOT]
    python3 tools/check_layers.py --deps BUILD_DIR [--graph] [ROOT]

Prints every include that runs against the direction and exits 1 when there
is one; --graph also prints the include counts between folders. The console
may include only the embedding header of the start-up layer and the GUI
layer's entry header; the datatypes may include of the evaluator only its
services header (services.h). The evaluator's stack state (stack::detail) is named
only by the stack module itself: every other file moves the stacks through
its functions.

With --deps the graph comes from the compiler instead of the #include lines:
the headers each compiled source of a Ninja build read (`ninja -t deps`),
nested ones included, so a header that pulls in a higher layer is caught
where the source-text check sees only the first step, and a console source
that reaches a project header through embed.h (which includes only standard
headers) is caught too, as is a datatype source that reads an evaluator
header other than services.h and the call-back entry it offers.
"""
import collections
import os
import re
import subprocess
import sys

# Lowest first. Folders of one layer may include each other.
LAYERS = [
    ["runtime/core", "runtime/text", "runtime/codecs", "runtime/os"],
    ["runtime/datatypes", "runtime/evaluator", "runtime/natives", "runtime/io"],
    ["runtime/startup"],
    ["gui/backend/text"],
    ["gui/backend/draw"],
    ["gui/backend"],
    ["console"],
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
CONSOLE_MAY_INCLUDE = {"runtime/startup/embed.h", "gui/backend/gui.h"}
# The datatypes reach the evaluator through one header, which offers the
# call-back entry with the rest.
DATATYPES_MAY_INCLUDE = {"runtime/evaluator/services.h"}
DATATYPES_MAY_READ = DATATYPES_MAY_INCLUDE | {"runtime/evaluator/callback.h"}
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')
STACK_STATE = re.compile(r"\bdetail::state\b|\bstack::detail\b")
STACK_MODULE = {"runtime/evaluator/stack.h", "runtime/evaluator/stack.cpp"}


def sources(root):
    for folder in RANK:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith((".h", ".cpp")):
                yield folder, os.path.join(folder, name)


def folder_of(path, root):
    """The ranked folder a file lies in directly, or None."""
    folder = os.path.dirname(os.path.relpath(path, root))
    return folder if folder in RANK else None


def compiled_edges(build, root):
    """(source folder, header folder, source, header) for every project header
    that ninja recorded a compiled source reading."""
    out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True,
                         check=True).stdout
    source = None
    for line in out.splitlines():
        if not line.startswith(" "):
            source = None  # a new object: its first dependency is its source
            continue
        path = os.path.normpath(os.path.join(build, line.strip()))
        if source is None:
            source = path
            continue
        a, b = folder_of(source, root), folder_of(path, root)
        if a is not None and b is not None and path.endswith(".h"):
            yield a, b, os.path.relpath(source, root), os.path.relpath(path, root)


def main(argv):
    graph = "--graph" in argv
    args = [a for a in argv if a != "--graph"]
    build = None
    if "--deps" in args:
        at = args.index("--deps")
        build = os.path.abspath(args[at + 1])
        del args[at:at + 2]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    if build is not None:
        return check_compiled(build, root, graph)
    edges = collections.Counter()
    against = []
    for folder, rel in sources(root):
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if rel not in STACK_MODULE and STACK_STATE.search(line):
                    against.append(f"{rel}:{number}: touches the evaluator's stack state")
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
                evaluator_reach = (folder == "runtime/datatypes" and to == "runtime/evaluator" and
                                   target not in DATATYPES_MAY_INCLUDE)
                if upward or console_reach or evaluator_reach:
                    against.append(f"{rel}:{number}: includes {target}")
    if graph:
        for (a, b), n in sorted(edges.items()):
            print(f"{a:20} -> {b:20} {n:4}")
    for line in against:
        print(line)
    print(f"{len(against)} includes against the layer direction or stack state touched")
    return 1 if against else 0


def check_compiled(build, root, graph):
    edges = collections.Counter()
    against = set()
    for a, b, source, header in compiled_edges(build, root):
        if a != b:
            edges[(a, b)] += 1
        console_reach = a == "console" and b != "console" and header not in CONSOLE_MAY_INCLUDE
        evaluator_reach = a == "runtime/datatypes" and b == "runtime/evaluator" and header not in DATATYPES_MAY_READ
        if RANK[b] > RANK[a] or console_reach or evaluator_reach:
            against.add(f"{source}: reads {header}")
    if graph:
        for (a, b), n in sorted(edges.items()):
            print(f"{a:20} -> {b:20} {n:4}")
    for line in sorted(against):
        print(line)
    print(f"{len(against)} compiled includes against the layer direction")
    return 1 if against else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
