#!/usr/bin/env python3
"""Checks the built modules: machine type, subsystem version, exports,
imports (system DLLs only, common controls and dialogs among them) and
resources (manifest, version, the page's dialog and bitmap). The version
expected is the one of the identity header a build generates.
Usage: check_module.py --identity build/native/generated/identity.h
       quirebinder32.dll quirebinder64.dll quirebinderarm64.dll"""
import argparse
import re
import struct
import sys

EXPORTS = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "windowscodecs.dll",
}
RT_BITMAP, RT_DIALOG, RT_STRING, RT_VERSION, RT_MANIFEST = 2, 5, 6, 16, 24
# The property page: dialog 102 in Windows' 38 display languages.
PAGE_LANGUAGES = {
    0x0401, 0x0402, 0x0405, 0x0406, 0x0407, 0x0408, 0x0809, 0x0409, 0x0C0A, 0x080A, 0x0425, 0x040B,
    0x0C0C, 0x040C, 0x040D, 0x041A, 0x040E, 0x0410, 0x0411, 0x0412, 0x0427, 0x0426, 0x0414, 0x0413,
    0x0415, 0x0416, 0x0816, 0x0418, 0x0419, 0x041B, 0x0424, 0x241A, 0x041D, 0x041E, 0x041F, 0x0422,
    0x0804, 0x0404,
}
EXPECTED = {
    "quirebinder32.dll": (0x14C, (6, 1)),
    "quirebinder64.dll": (0x8664, (6, 1)),
    "quirebinderarm64.dll": (0xAA64, (6, 2)),
}
VERSION_STRINGS = {
    "FileDescription": "Quirebinder Shell Extension",
    "InternalName": "Quirebinder",
    "OriginalFilename": "quirebinder.dll",
}


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        self.pe32plus = magic == 0x20B
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        dirs = opt + (112 if self.pe32plus else 96)
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            base = opt + opt_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from("<IIII", data, base + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("rva %#x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        d = self.offset(rva)
        count = struct.unpack_from("<I", self.data, d + 24)[0]
        names = struct.unpack_from("<I", self.data, d + 32)[0]
        return [self.cstring(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
                for i in range(count)]

    def imports(self):
        rva, size = self.directories[1]
        result = []
        if not size:
            return result
        d = self.offset(rva)
        while True:
            name = struct.unpack_from("<I", self.data, d + 12)[0]
            if name == 0:
                break
            result.append(self.cstring(name).lower())
            d += 20
        return result

    def resource_languages(self):
        """{(type, id): set of languages}."""
        rva, size = self.directories[2]
        found = {}
        if not size:
            return found
        root = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, directory + 16 + 8 * i)

        for rtype, t in entries(root):
            for rid, n in entries(root + (t & 0x7FFFFFFF)):
                found[(rtype, rid)] = {lang for lang, _ in entries(root + (n & 0x7FFFFFFF))}
        return found

    def resources(self):
        """{(type, id): bytes} for the first language of each resource."""
        rva, size = self.directories[2]
        if not size:
            return {}
        root = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                yield name, target

        found = {}
        for rtype, t in entries(root):
            for rid, n in entries(root + (t & 0x7FFFFFFF)):
                for _, leaf in entries(root + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    start = self.offset(data_rva)
                    found.setdefault((rtype, rid), self.data[start:start + size])
        return found


def identity_version(path):
    """The version QB_VERSION_TEXT of a generated identity header."""
    found = re.search(r'^#define QB_VERSION_TEXT "(\d+)\.(\d+)\.(\d+)"$', open(path).read(), re.M)
    if not found:
        raise SystemExit("%s: no QB_VERSION_TEXT" % path)
    return tuple(int(part) for part in found.groups())


def version_strings(block, keys):
    text = block.decode("utf-16-le", errors="replace")
    values = {}
    for key in keys:
        at = text.find(key + "\0")
        if at >= 0:
            rest = text[at + len(key) + 1:].lstrip("\0")
            values[key] = rest.split("\0", 1)[0]
    return values


def check(path, version):
    name = path.rsplit("/", 1)[-1].lower()
    problems = []
    pe = PE(open(path, "rb").read())
    machine, subsystem = EXPECTED[name]
    if pe.machine != machine:
        problems.append("machine %#x, expected %#x" % (pe.machine, machine))
    if tuple(pe.subsystem_version) != subsystem:
        problems.append("subsystem version %d.%02d, expected %d.%02d" % (*pe.subsystem_version, *subsystem))
    exports = pe.exports()
    if set(exports) != EXPORTS or len(exports) != len(EXPORTS):
        problems.append("exports %s, expected exactly %s" % (sorted(exports), sorted(EXPORTS)))
    for dll in pe.imports():
        if dll not in SYSTEM_DLLS or dll == "propsys.dll":
            problems.append("imports %s" % dll)
    resources = pe.resources()
    manifest = resources.get((RT_MANIFEST, 2), b"").decode("utf-8", errors="replace")
    if "Microsoft.Windows.Common-Controls" not in manifest or 'version="6.0.0.0"' not in manifest:
        problems.append("manifest resource 2 does not name Common-Controls 6.0.0.0")
    languages = pe.resource_languages()
    # The page, and the texts of the preview and Save Source (string ids
    # 200 to 209, the table's block 13), in every language.
    for kind, name, label in ((RT_DIALOG, 102, "dialog 102"), (RT_STRING, 13, "string block 13")):
        if not PAGE_LANGUAGES <= languages.get((kind, name), set()):
            problems.append("%s languages %s, expected %s" % (
                label, sorted(languages.get((kind, name), set())), sorted(PAGE_LANGUAGES)))
    if (RT_BITMAP, 100) not in resources:
        problems.append("no bitmap 100")
    expected = version
    version = resources.get((RT_VERSION, 1), b"")
    fixed = version.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        problems.append("no version resource")
    else:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", version, fixed + 8)
        for label, ms, ls in (("file", file_ms, file_ls), ("product", product_ms, product_ls)):
            got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            if got != expected + (0,):
                problems.append("%s version %s, expected %s.0" % (
                    label, ".".join(map(str, got)), ".".join(map(str, expected))))
        text = ".".join(map(str, expected))
        wanted = dict(VERSION_STRINGS, FileVersion=text, ProductVersion=text)
        strings = version_strings(version, wanted)
        for key, value in wanted.items():
            if strings.get(key) != value:
                problems.append("version text %s is %r, expected %r" % (key, strings.get(key), value))
    return problems


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--identity", required=True, help="the generated identity.h")
    parser.add_argument("modules", nargs="+")
    options = parser.parse_args(arguments)
    version = identity_version(options.identity)
    failed = False
    for path in options.modules:
        problems = check(path, version)
        for problem in problems:
            print("%s: %s" % (path, problem))
        print("%s: %s" % (path, "FAILED" if problems else "ok"))
        failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
