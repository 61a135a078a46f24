#!/usr/bin/env python3
"""Installs the package in a fresh wine64 prefix and removes it again.

After "msiexec /i" a registry export must show every value of the
registration table (listed by make_wxs in expected.txt), the module entries
naming the installed files, and a slot another program held beforehand
still holding its value; after "msiexec /x" none of the table's values, no
key of our own and no installed file may be left. The package's version
must be the module's.

    test_msi.py STAGE_DIR PREFIX_DIR

STAGE_DIR is where installer/build_msi.sh built the package: package.msi,
expected.txt and the packed files.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
INSTALL_DIR = os.path.join("drive_c", "Program Files", "Quirebinder")
# A ProgID another program set for .azw before the installation.
HELD_KEY, HELD_VALUE = "Software\\Classes\\.azw", "Other.Book"
EXPORTS = ["HKLM\\Software\\Classes",
           "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"]


def wine(env, *args):
    return subprocess.run([WINE, *args], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=300).returncode


def unquote(text):
    """The text of a .reg string "..." with its escapes resolved."""
    out, i = [], 1
    while i < len(text) - 1:
        if text[i] == "\\" and i + 1 < len(text) - 1:
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def export(env, scratch):
    """{(view, key below HKLM in lower case): {value name in lower case: text}}."""
    values = {}
    for view in ("64", "32"):
        for number, key in enumerate(EXPORTS):
            path = os.path.join(scratch, f"export-{view}-{number}.reg")
            if wine(env, "reg", "export", key, "Z:" + path.replace("/", "\\"),
                    "/reg:" + view, "/y") != 0:
                raise SystemExit(f"reg export {key} /reg:{view} failed")
            with open(path, encoding="utf-16") as f:
                current = {}
                for line in f.read().splitlines():
                    if line.startswith("[HKEY_LOCAL_MACHINE\\"):
                        key = line[len("[HKEY_LOCAL_MACHINE\\"):-1].lower()
                        current = values.setdefault((view, key), {})
                    elif line.startswith('@="'):
                        current["@"] = unquote(line[2:])
                    elif line.startswith('"') and '"="' in line:
                        split = line.index('"="') + 1
                        current[unquote(line[:split]).lower()] = unquote(line[split + 1:])
    return values


def expected_values():
    with open(os.path.join(sys.argv[1], "expected.txt"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            view, key, name, data, ownership = line.split("\t")
            yield view, key, name, data, ownership


def file_version(path):
    """The file version of a PE file's fixed version block, as a.b.c."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise SystemExit(f"{path}: no version block")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"


def main():
    msi = os.path.join(sys.argv[1], "package.msi")
    module64 = os.path.join(sys.argv[1], "quirebinder64.dll")
    prefix = os.path.abspath(sys.argv[2])
    failures = []

    properties = subprocess.run(["msiinfo", "export", msi, "Property"], check=True,
                                stdout=subprocess.PIPE, text=True).stdout
    version = dict(line.split("\t", 1) for line in properties.splitlines()
                   if "\t" in line).get("ProductVersion")
    if version != file_version(module64):
        failures.append(f"package version {version}, module {file_version(module64)}")

    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    scratch = tempfile.mkdtemp(prefix="qb-msi-")
    try:
        wine(env, "wineboot", "-i")
        subprocess.run([WINESERVER, "-w"], env=env)
        wine(env, "reg", "add", "HKLM\\" + HELD_KEY, "/ve", "/d", HELD_VALUE, "/reg:64", "/f")
        windows_msi = "Z:" + os.path.abspath(msi).replace("/", "\\")

        if wine(env, "msiexec", "/i", windows_msi, "/qn") != 0:
            failures.append("msiexec /i failed")
        installed = export(env, scratch)
        for view, key, name, data, ownership in expected_values():
            if view == "64" and key.lower() == HELD_KEY.lower() and name == "@":
                data = HELD_VALUE  # another program's ProgID stays
            found = installed.get((view, key.lower()), {}).get(name.lower())
            if found != data:
                failures.append(f"installed: {view} {key} {name} is {found!r}, not {data!r}")
        for name in ("quirebinder64.dll", "quirebinder32.dll", "quirebinder.exe"):
            if not os.path.isfile(os.path.join(prefix, INSTALL_DIR, name)):
                failures.append(f"installed: no {name}")

        if wine(env, "msiexec", "/x", windows_msi, "/qn") != 0:
            failures.append("msiexec /x failed")
        removed = export(env, scratch)
        for view, key, name, data, ownership in expected_values():
            found = removed.get((view, key.lower()), {}).get(name.lower())
            kept = view == "64" and key.lower() == HELD_KEY.lower() and name == "@"
            if found != (HELD_VALUE if kept else None):
                failures.append(f"removed: {view} {key} {name} is {found!r}")
            if ownership == "own-key" and (view, key.lower()) in removed:
                failures.append(f"removed: key {view} {key} is left")
        if os.path.exists(os.path.join(prefix, INSTALL_DIR)):
            failures.append("removed: the installation folder is left")
    finally:
        subprocess.run([WINESERVER, "-k"], env=env)
        shutil.rmtree(scratch, ignore_errors=True)

    for failure in failures:
        print("package test:", failure, file=sys.stderr)
    print("package test:", "FAILED" if failures else "passed",
          f"({sum(1 for _ in expected_values())} registry values)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
