#!/usr/bin/env python3
"""Fails when a room's library calls into a room above it.

Usage: check-layers.py ROOM=LIBRARY[:BELOW,...] ...

Each room names its static library and the rooms below it that it may call
(the whole set, not only the next one). A symbol the library uses but does
not define counts as a call up when neither it nor a room below defines it
and some other room does; what no room defines (the C++ and C libraries,
libcurl...) is not ours to check. Includes are kept in line by the build
itself: each room's include folder holds only the headers it may see.
"""
import subprocess
import sys

UNDEFINED = {"U", "w", "v"}


def symbols(library):
    """(defined, used but undefined) mangled names of a static library."""
    out = subprocess.run(["nm", "-P", library], check=True, capture_output=True, text=True).stdout
    defined, undefined = set(), set()
    for line in out.splitlines():
        fields = line.split()
        if len(fields) < 2 or line.endswith(":"):
            continue  # a member's header
        (undefined if fields[1] in UNDEFINED else defined).add(fields[0])
    return defined, undefined - defined


def main(args):
    rooms = {}
    for arg in args:
        name, _, rest = arg.partition("=")
        library, _, below = rest.partition(":")
        rooms[name] = (library, [b for b in below.split(",") if b])
    if not rooms:
        sys.exit(__doc__)
    tables = {name: symbols(library) for name, (library, _) in rooms.items()}
    for name, (_, below) in rooms.items():
        unknown = [b for b in below if b not in rooms]
        if unknown:
            sys.exit(f"{name}: no such room {unknown}")
    failures = 0
    for name, (_, below) in rooms.items():
        visible = set().union(*(tables[r][0] for r in [name, *below]))
        for symbol in sorted(tables[name][1] - visible):
            owners = [r for r in rooms if symbol in tables[r][0]]
            if owners:
                failures += 1
                print(f"{name} calls up into {', '.join(owners)}: {demangle(symbol)}")
    if failures:
        sys.exit(f"layering: {failures} call(s) into a room above")
    print(f"layering: {len(rooms)} rooms, no call runs up")


def demangle(symbol):
    result = subprocess.run(["c++filt", symbol], capture_output=True, text=True)
    return result.stdout.strip() or symbol


if __name__ == "__main__":
    main(sys.argv[1:])
