#!/usr/bin/env python3
"""Checks a release folder that tools/release.sh made (docs/release.md):
each zip holds what the README's table of zips says, and beside the module
the files its machine's package installs; SHA256SUMS matches the files;
the winget manifests hold their fields and name each package's real
SHA-256 and ProductCode; each package refuses Windows older than 7 and its
MsiFileHash rows are the hashes of the files the zip of its machine holds;
the release notes say whether it is signed. With --signed CA.pem, every
module, host and package must carry a signature osslsigncode finds intact.

    test_release.py RELEASE_DIR BASE_URL [--signed CA.pem]
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ID = "Quirebinder.Quirebinder"
# The manifest fields: (manifest, field, value); "{version}" is the release's.
FIELDS = [(kind, "PackageIdentifier", ID) for kind in ("version", "installer", "locale.en-US")] + [
    (kind, "PackageVersion", "{version}") for kind in ("version", "installer", "locale.en-US")] + [
    (kind, "ManifestVersion", "1.6.0") for kind in ("version", "installer", "locale.en-US")] + [
    ("version", "ManifestType", "version"), ("version", "DefaultLocale", "en-US"),
    ("installer", "ManifestType", "installer"), ("installer", "InstallerType", "msi"),
    ("installer", "Scope", "machine"), ("installer", "MinimumOSVersion", "6.1.7600.0"),
    ("locale.en-US", "ManifestType", "defaultLocale"),
    ("locale.en-US", "Publisher", "The Quirebinder developers"),
    ("locale.en-US", "License", "MIT"), ("locale.en-US", "Tags", ""),
]
MIN_WINDOWS = "Installed OR VersionNT >= 601"


def msi_table(msi, table):
    text = subprocess.run(["msiinfo", "export", msi, table], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.replace("\r", "")
    return [line.split("\t") for line in text.splitlines()[3:]]


def main(folder, url, ca=None):
    version = os.path.basename(os.path.normpath(folder)).split("-", 1)[1]
    failures = []
    fail = failures.append
    files = sorted(os.listdir(folder))
    machines = [m for m in ("x64", "x86", "arm64") if f"quirebinder-{version}-{m}.msi" in files]

    # The README's table of zips: | `quirebinder-VERSION-m.zip` | `name` (...), ... |
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        said = {m: set(re.findall(r"`([^`]+)`", names)) for m, names in
                re.findall(r"^\| `quirebinder-VERSION-(\w+)\.zip` \|(.*)\|$", f.read(), re.M)}
    for machine in machines:
        name = f"quirebinder-{version}-{machine}"
        with zipfile.ZipFile(os.path.join(folder, name + ".zip")) as z:
            held = {entry.filename: z.read(entry) for entry in z.infolist()}
        if set(held) != {f"{name}/{file}" for file in said.get(machine, ())}:
            fail(f"{name}.zip holds {sorted(held)}, the README says {sorted(said.get(machine, ()))}")
        msi = os.path.join(folder, name + ".msi")
        installed = {row[2].split("|")[-1]: row[0] for row in msi_table(msi, "File")}
        if set(installed) != {file.split("/")[1] for file in held} - {"README.md"}:
            fail(f"{name}.msi installs {sorted(installed)}, not what the zip holds")
        # MsiFileHash: the MD5 of each file as four little-endian 32-bit numbers.
        for file_id, _, *numbers in msi_table(msi, "MsiFileHash"):
            file = next((f for f, i in installed.items() if i == file_id), None)
            md5 = hashlib.md5(held.get(f"{name}/{file}", b"")).digest()
            if [int(n) for n in numbers] != list(struct.unpack("<4i", md5)):
                fail(f"{name}.msi: the MsiFileHash of {file} is not the zip's file's")
        if ["Quirebinder needs Windows 7 or later.", MIN_WINDOWS] not in [
                row[::-1] for row in msi_table(msi, "LaunchCondition")]:
            fail(f"{name}.msi has no launch condition {MIN_WINDOWS}")
        if ca:
            signed = [msi] + [os.path.join(folder, "signed-" + file.split("/")[1]) for file in held
                              if file.endswith((".dll", ".exe"))]
            for file in signed[1:]:
                with open(file, "wb") as out:
                    out.write(held[f"{name}/{file.rsplit('signed-', 1)[1]}"])
            for file in signed:
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", file],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                if verify.returncode != 0 or "Signature verification: ok" not in verify.stdout:
                    fail(f"{name}: {os.path.basename(file)} has no intact signature")
                if file != msi:
                    os.remove(file)

    with open(os.path.join(folder, "SHA256SUMS"), encoding="utf-8") as f:
        sums = dict(line.split()[::-1] for line in f if line.strip())
    downloads = [f for f in files if f.endswith((".msi", ".zip"))]
    if sorted(sums) != downloads:
        fail(f"SHA256SUMS lists {sorted(sums)}, not {downloads}")
    for file, digest in sums.items():
        with open(os.path.join(folder, file), "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != digest:
                fail(f"SHA256SUMS: {file} does not match")

    manifests = {}
    for kind in ("version", "installer", "locale.en-US"):
        path = os.path.join(folder, "winget", f"{ID}.yaml" if kind == "version"
                            else f"{ID}.{kind}.yaml")
        with open(path, encoding="utf-8") as f:
            manifests[kind] = f.read()
    for kind, field, value in FIELDS:
        found = re.search(rf"^{field}:(.*)$", manifests[kind], re.M)
        if not found or found.group(1).strip() != value.format(version=version):
            fail(f"winget {kind}: {field} is {found and found.group(1).strip()!r}")
    installers = re.split(r"^- ", manifests["installer"], flags=re.M)[1:]
    if len(installers) != len(machines):
        fail(f"winget installer: {len(installers)} installers, {len(machines)} packages")
    for machine, entry in zip(machines, installers):
        msi = f"quirebinder-{version}-{machine}.msi"
        product = dict(row[:2] for row in msi_table(os.path.join(folder, msi), "Property"))
        for field, value in (("Architecture", machine), ("InstallerUrl", f"{url}/{msi}"),
                             ("InstallerSha256", sums.get(msi, "").upper()),
                             ("ProductCode", f"'{product.get('ProductCode')}'"),
                             ("UpgradeBehavior", "install")):
            if f"{field}: {value}\n" not in entry:
                fail(f"winget installer {machine}: no {field}: {value}")

    with open(os.path.join(folder, "RELEASE-NOTES.md"), encoding="utf-8") as f:
        notes = f.read()
    with open(os.path.join(ROOT, "CHANGELOG.md"), encoding="utf-8") as f:
        entry = re.search(rf"^## {re.escape(version)}\n(.*?)(?=^## |\Z)", f.read(), re.M | re.S)
    for text in (entry and entry.group(1).strip() or "(no entry)", "Signed with" if ca
                 else "Not signed:"):
        if text not in notes:
            fail(f"RELEASE-NOTES.md lacks {text.splitlines()[0]!r}")

    for failure in failures:
        print("release test:", failure, file=sys.stderr)
    print("release test:", "FAILED" if failures else "passed",
          f"({folder}: {', '.join(machines)}{', signed' if ca else ''})")
    return 1 if failures else 0


if __name__ == "__main__":
    args = sys.argv[1:]
    sys.exit(main(args[0], args[1], args[3] if args[2:3] == ["--signed"] else None))
