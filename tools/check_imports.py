#!/usr/bin/env python3
"""Checks that the modules and hosts import only functions that the oldest
Windows they claim exports: Windows 7 for x86 and x64, Windows 10 for ARM64
(the first Windows for ARM64 PCs). Each import (DLL and name) must be in
tools/windows_imports.txt, the functions they use today, each with the
Windows that brought it where that is later than 7. A new import fails the
check until the Windows that first exports it is found and it is added.

    check_imports.py FILE...          # fails on an import not in the list
    check_imports.py --list FILE...   # prints the imports, in the list's form
"""
import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_module import PE  # noqa: E402

LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_imports.txt")
# The oldest Windows of each machine: IMAGE_FILE_MACHINE_ARM64, otherwise 7.
OLDEST = {0xAA64: 10}


def read(path):
    with open(path, "rb") as f:
        return PE(f.read())


def imports(path):
    """{"dll function"} of a PE file; an import by ordinal as "dll #n"."""
    pe = read(path)
    rva, size = pe.directories[1]
    found = set()
    at = pe.offset(rva) if size else None
    width, flag = (8, 1 << 63) if pe.pe32plus else (4, 1 << 31)
    while at is not None:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", pe.data, at)
        if name == 0:
            break
        dll = pe.cstring(name).lower()
        thunk = pe.offset(lookup or first)
        while True:
            entry = int.from_bytes(pe.data[thunk:thunk + width], "little")
            if entry == 0:
                break
            found.add(f"{dll} #{entry & 0xFFFF}" if entry & flag
                      else f"{dll} {pe.cstring((entry & 0x7FFFFFFF) + 2)}")
            thunk += width
        at += 20
    return found


def main(args):
    if args[:1] == ["--list"]:
        print("\n".join(sorted(set().union(*(imports(path) for path in args[1:])))))
        return 0
    with open(LIST, encoding="utf-8") as f:
        since = {" ".join(words[:2]): int(words[2]) if len(words) > 2 else 7
                 for words in (line.split() for line in f) if words and words[0] != "#"}
    failed = False
    for path in args:
        oldest = OLDEST.get(read(path).machine, 7)
        for name in sorted(imports(path)):
            if since.get(name, 99) > oldest:
                print(f"{path}: imports {name}, not known to be in Windows {oldest} ({LIST})")
                failed = True
    print("imports:", "FAILED" if failed else f"all in the oldest Windows claimed ({len(args)} files)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
