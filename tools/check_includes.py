#!/usr/bin/env python3
"""Includes run one way: a file of the module, the host or the package
generator includes files of its own room or of the floors below it, never
one above and never another room of its own floor. Prints each include that
breaks this and exits 1 if there is one. The floors are the ones
docs/architecture.md draws."""
import pathlib
import re
import sys

# From the ground up; the rooms of one floor do not include each other. The
# property page is a floor of its own: the handler makes it (AddPages).
FLOORS = [
    ["server", "resources"],
    ["book"],
    ["text", "imaging"],
    ["propertypage"],
    ["handler", "filter", "preview"],
    ["registration"],
    ["entry", "host", "installer"],
]
FLOOR = {room: number for number, rooms in enumerate(FLOORS) for room in rooms}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def problems(top):
    found = []
    for room, floor in FLOOR.items():
        for path in sorted((top / room).glob("*")):
            if path.suffix not in (".h", ".cpp", ".rc"):
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                # Without a folder: a file of the room itself, or the
                # generated identity header, below every floor.
                other = target.split("/")[0] if "/" in target else room
                if other == room or other not in FLOOR:
                    continue
                where = f"{path.relative_to(top)}:{number}: {room} (floor {floor}) includes {target}"
                if FLOOR[other] > floor:
                    found.append(f"{where}, a floor above (floor {FLOOR[other]})")
                elif FLOOR[other] == floor:
                    found.append(f"{where}, another room of its floor")
    return found


if __name__ == "__main__":
    bad = problems(pathlib.Path(__file__).resolve().parent.parent)
    print("\n".join(bad) if bad else "includes run one way")
    sys.exit(1 if bad else 0)
