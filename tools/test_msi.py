#!/usr/bin/env python3
"""Installs the package in a fresh prefix, repairs, removes and upgrades it:
the x64 package in a 64-bit prefix (wine64), the x86 one in a 32-bit prefix
(wine, WINEARCH=win32), the arm64 one with the emulated arm64 Wine of
tools/arm64_emulated_run.sh (or it says it was not run), as machine.txt of
the stage says. First the installer must refuse the other 64-bit package.

After "msiexec /i" a registry export must show every value of the
registration table (listed by make_wxs in expected.txt), the module entries
naming the installed files, and a slot another program held beforehand
still holding its value. Then another program takes two slots over (.mobi
and a thumbnail slot); a repair (REINSTALL=ALL: Wine's "msiexec /f" takes
no package) must leave them to it and fill a slot left empty; after
"msiexec /x" they must still hold its values, and none of the table's other
values, no key of our own and no installed file may be left. Last, the
package is installed again and a newer version of it over that: one product
registered, the newer version's files, and its removal cleans up as before.
The package's version must be the module's; the installed host must make a
thumbnail through the registered class. Before all that, with Wine's Windows
version set to Vista, the package must refuse to install (its launch
condition: Windows 7 or later); after the installation its Apps & Features
entry must name the publisher, the version, the help link, the size and an
icon file that is there.

    test_msi.py STAGE_DIR PREFIX_DIR

STAGE_DIR is where installer/build_msi.sh built the package: package.msi,
its source quirebinder.wxs and tables.sql, expected.txt, machine.txt and
the packed files, beside the other packages' stages. Both folders are in
the source tree, which the arm64 Wine sees at its own path.
"""
import filecmp
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

WINESERVER = "/usr/lib/wine/wineserver"
with open(os.path.join(sys.argv[1], "machine.txt"), encoding="utf-8") as machine_file:
    MACHINE = machine_file.read().strip()
# Per package: its Wine loader, whether it runs emulated in the arm64 root,
# WINEARCH, the registry views (first that of the package's own module,
# where the other program's slots are), that module, and the stage beside
# whose package the installer must refuse, with the exit code.
WINE, EMULATED, WINEARCH, VIEWS, MODULE, REFUSED = {
    "x64": ("wine64", False, "win64", ("64", "32"), "quirebinder64.dll", ("package-arm64", 1633)),
    "x86": ("wine", False, "win32", ("32",), "quirebinder32.dll", None),
    "arm64": ("wine64", True, "win64", ("64", "32"), "quirebinderarm64.dll", ("package", 1603)),
}[MACHINE]
WINE = "/usr/lib/wine/" + WINE
VIEW = VIEWS[0]
SOURCE_TREE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARM64_ROOT = os.environ.get("QB_ARM64_ROOT") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
    "quirebinder", "arm64-root")
# /proc and the source tree, at its own path, mounted in the root for one
# program, in a mount namespace of its own.
IN_ARM64_ROOT = ('r=$0 && mount -t proc proc "$r/proc" && mkdir -p "$r$1" && '
                 'mount --bind "$1" "$r$1" && shift && exec chroot "$r" "$@"')
INSTALL_DIR = os.path.join("drive_c", "Program Files", "Quirebinder")
# Slots of another program in the package's view, (key below HKLM in lower
# case, value name): value. It holds the first before the installation and
# takes the others over after it.
HELD_BEFORE = {("software\\classes\\.azw", "@"): "Other.Book"}
TAKEN_AFTER = {
    ("software\\classes\\.mobi", "@"): "Other.Mobi",
    ("software\\classes\\.azw3\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}", "@"):
        "{00000000-0000-0000-0000-0000000000A1}",
}
# A slot of ours that another program empties after the installation.
EMPTIED = "Software\\Classes\\.mobi\\ShellEx\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}"
# Our own key, where a slot another program holds points (make_wxs).
RELEASED_KEY = "HKLM\\Software\\Quirebinder"
UNINSTALL_KEY = "software\\microsoft\\windows\\currentversion\\uninstall\\"
PRODUCTS_KEY = "software\\classes\\installer\\products\\"
# Apps & Features: the uninstall entry's values.
ENTRY = {"publisher": "The Quirebinder developers",
         "helplink": "https://github.com/quirebinder/quirebinder#readme"}
EXPORTS = ["HKLM\\Software\\Classes",
           "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"]


def run(env, *command):
    """The exit code of a program of the package's Wine."""
    if EMULATED:
        command = ("unshare", "--mount", "--fork", "sh", "-c", IN_ARM64_ROOT, ARM64_ROOT,
                   SOURCE_TREE, *command)
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=600).returncode


def wine(env, *args):
    return run(env, WINE, *args)


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
    for view in VIEWS:
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


def take(env, slots):
    for (key, name), value in slots.items():
        wine(env, "reg", "add", "HKLM\\" + key, "/ve", "/d", value, "/reg:" + VIEW, "/f")


def other_value(others, view, key, name):
    """The value another program holds in a slot, or None."""
    return others.get((key.lower(), name)) if view == VIEW else None


def check_installed(env, scratch, others, failures, when):
    installed = export(env, scratch)
    for view, key, name, data, ownership in expected_values():
        data = other_value(others, view, key, name) or data
        found = installed.get((view, key.lower()), {}).get(name.lower())
        if found != data:
            failures.append(f"{when}: {view} {key} {name} is {found!r}, not {data!r}")
    return installed


def check_removed(env, scratch, prefix, others, failures, when):
    removed = export(env, scratch)
    for view, key, name, data, ownership in expected_values():
        found = removed.get((view, key.lower()), {}).get(name.lower())
        if found != other_value(others, view, key, name):
            failures.append(f"{when}: {view} {key} {name} is {found!r}")
        if ownership == "own-key" and (view, key.lower()) in removed:
            failures.append(f"{when}: key {view} {key} is left")
    for view in VIEWS:
        if wine(env, "reg", "query", RELEASED_KEY, "/reg:" + view) == 0:
            failures.append(f"{when}: key {view} {RELEASED_KEY} is left")
    if os.path.exists(os.path.join(prefix, INSTALL_DIR)):
        failures.append(f"{when}: the installation folder is left")


def newer_package(stage, scratch):
    """The package of stage built again with its version raised by one and
    a host whose bytes differ; its folder and version."""
    folder = os.path.join(scratch, "newer")
    shutil.copytree(stage, folder)
    with open(os.path.join(folder, "quirebinder.wxs"), encoding="utf-8") as f:
        source = f.read()
    found = re.search(r'(\sVersion=")(\d+\.\d+\.)(\d+)"', source)
    version = found.group(2) + str(int(found.group(3)) + 1)
    with open(os.path.join(folder, "quirebinder.wxs"), "w", encoding="utf-8") as f:
        f.write(source[:found.start()] + found.group(1) + version + '"' + source[found.end():])
    with open(os.path.join(folder, "quirebinder.exe"), "ab") as f:
        f.write(b"\0newer build")
    subprocess.run(["sh", os.path.join(folder, "package.sh")], check=True,
                   stderr=subprocess.DEVNULL)
    return folder, version


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    if EMULATED and (os.geteuid() != 0 or not os.path.exists(
            "/proc/sys/fs/binfmt_misc/qemu-aarch64") or not os.access(ARM64_ROOT + WINE, os.X_OK)):
        print(f"package test ({MACHINE}): SKIPPED (needs root, qemu-aarch64 in binfmt_misc "
              f"and an arm64 Wine in {ARM64_ROOT}: tools/arm64_root.sh makes them)")
        return 0
    stage = sys.argv[1]
    msi = windows_path(os.path.join(stage, "package.msi"))
    module = os.path.join(stage, MODULE)
    prefix = os.path.abspath(sys.argv[2])
    failures = []

    properties = subprocess.run(["msiinfo", "export", os.path.join(stage, "package.msi"),
                                 "Property"], check=True, stdout=subprocess.PIPE,
                                text=True).stdout
    version = dict(line.split("\t", 1) for line in properties.splitlines()
                   if "\t" in line).get("ProductVersion")
    if version != file_version(module):
        failures.append(f"package version {version}, module {file_version(module)}")

    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH=WINEARCH, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    scratch = tempfile.mkdtemp(prefix="qb-msi-", dir=os.path.dirname(prefix))
    try:
        wine(env, "wineboot", "-i")
        run(env, WINESERVER, "-w")
        # Wine's Windows version older than the oldest the package takes.
        wine(env, "reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "vista", "/f")
        code = wine(env, "msiexec", "/i", msi, "/qn")
        if code != 1603 & 0xFF or os.path.exists(os.path.join(prefix, INSTALL_DIR)):
            failures.append(f"on Windows Vista: exit code {code}, not 1603, or installed")
        wine(env, "reg", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f")
        other = os.path.join(stage, "..", REFUSED[0], "package.msi") if REFUSED else ""
        if other and not os.path.exists(other):
            # The Arm64 package comes from the ARM64 lane, which a machine may lack.
            print(f"package test ({MACHINE}): {REFUSED[0]} was not built, its refusal not checked")
        elif other:
            code = wine(env, "msiexec", "/i", windows_path(other), "/qn")
            # A Windows exit code reaches Linux as its low byte.
            if code != REFUSED[1] & 0xFF or os.path.exists(os.path.join(prefix, INSTALL_DIR)):
                failures.append(f"{other}: exit code {code}, not {REFUSED[1]}, or installed")
        take(env, HELD_BEFORE)
        others = dict(HELD_BEFORE)

        if wine(env, "msiexec", "/i", msi, "/qn") != 0:
            failures.append("msiexec /i failed")
        installed = check_installed(env, scratch, others, failures, "installed")
        entries = [values for (view, key), values in installed.items()
                   if view == VIEW and key.startswith(UNINSTALL_KEY)
                   and values.get("displayname") == "Quirebinder"]
        icons = [values.get("producticon", "") for (view, key), values in installed.items()
                 if view == VIEW and key.startswith(PRODUCTS_KEY) and key.count("\\") == 4]
        expected = dict(ENTRY, displayversion=version)
        if (len(entries) != 1 or any(entries[0].get(k) != v for k, v in expected.items())
                or not entries[0].get("size", "").isdigit()):
            failures.append(f"installed: Apps & Features entries {entries}, not {expected} and a size")
        if len(icons) != 1 or not os.path.isfile(os.path.join(
                prefix, "drive_c", icons[0][3:].replace("\\", "/"))):
            failures.append(f"installed: product icon {icons}, not a file that is there")
        packed = [name for name in os.listdir(stage) if name.endswith((".dll", ".exe"))]
        for name in packed:
            if not os.path.isfile(os.path.join(prefix, INSTALL_DIR, name)):
                failures.append(f"installed: no {name}")
        cover = os.path.join(scratch, "cover.png")
        code = wine(env, "C:\\Program Files\\Quirebinder\\quirebinder.exe", "thumbnail",
                    windows_path(os.path.join(SOURCE_TREE, "tests/data/books/cafe-noir.mobi")),
                    "-o", windows_path(cover))
        if code != 0 or not os.path.isfile(cover):
            failures.append(f"installed: the host's thumbnail failed ({code})")

        take(env, TAKEN_AFTER)
        others.update(TAKEN_AFTER)
        wine(env, "reg", "delete", "HKLM\\" + EMPTIED, "/reg:" + VIEW, "/f")
        if wine(env, "msiexec", "/i", msi, "REINSTALL=ALL", "REINSTALLMODE=omus", "/qn") != 0:
            failures.append("msiexec /i REINSTALL=ALL failed")
        check_installed(env, scratch, others, failures, "repaired")
        if wine(env, "msiexec", "/x", msi, "/qn") != 0:
            failures.append("msiexec /x failed")
        check_removed(env, scratch, prefix, others, failures, "removed")

        newer, newer_version = newer_package(stage, scratch)
        newer_msi = windows_path(os.path.join(newer, "package.msi"))
        if (wine(env, "msiexec", "/i", msi, "/qn") != 0 or
                wine(env, "msiexec", "/i", newer_msi, "/qn") != 0):
            failures.append("msiexec /i of a version and then the next failed")
        installed = check_installed(env, scratch, others, failures, "upgraded")
        products = [values.get("displayversion") for (view, key), values in installed.items()
                    if view == VIEW and key.startswith(UNINSTALL_KEY)
                    and values.get("displayname") == "Quirebinder"]
        if products != [newer_version]:
            failures.append(f"upgraded: products registered {products}, not [{newer_version!r}]")
        hosts = [os.path.join(folder, "quirebinder.exe")
                 for folder in (newer, os.path.join(prefix, INSTALL_DIR))]
        if not os.path.isfile(hosts[1]) or not filecmp.cmp(*hosts, shallow=False):
            failures.append("upgraded: quirebinder.exe is not the newer version's")
        if wine(env, "msiexec", "/x", newer_msi, "/qn") != 0:
            failures.append("msiexec /x of the newer version failed")
        check_removed(env, scratch, prefix, others, failures, "upgrade removed")
    finally:
        run(env, WINESERVER, "-k")
        shutil.rmtree(scratch, ignore_errors=True)

    for failure in failures:
        print(f"package test ({MACHINE}):", failure, file=sys.stderr)
    print(f"package test ({MACHINE}):", "FAILED" if failures else "passed",
          f"({sum(1 for _ in expected_values())} registry values)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
