#!/usr/bin/env python3
"""Includes run one way: a file of the module, the host or the package
generator includes files of its own floor or of the floors below it, never
one above. Prints each include that points up and exits 1 if there is one."""
import pathlib
import re
import sys

FLOORS = {
    "server": 0, "resources": 0,
    "book": 1,
    "text": 2, "imaging": 2,
    "propertypage": 3,
    "handler": 4, "filter": 4, "preview": 4, "registration": 4,
    "entry": 5,
    "host": 6, "installer": 6,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')

top = pathlib.Path(__file__).resolve().parent.parent
bad = []
for room, floor in FLOORS.items():
    for path in sorted((top / room).glob("*")):
        if path.suffix not in (".h", ".cpp", ".rc"):
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            other = target.split("/")[0] if "/" in target else room
            if FLOORS.get(other, -1) > floor:
                bad.append(f"{path.relative_to(top)}:{number}: {room} (floor {floor}) includes {target} "
                           f"(floor {FLOORS[other]})")
print("\n".join(bad) if bad else "includes run one way")
sys.exit(1 if bad else 0)
