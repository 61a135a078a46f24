#!/bin/sh
# Makes a release of the commit checked out: dist/quirebinder-VERSION/ with
# the three installer packages, a portable zip per architecture, SHA256SUMS,
# the release notes (the version's entry of CHANGELOG.md) and the winget
# manifests, whose installer URLs are under BASE_URL (docs/release.md).
#
#   tools/release.sh --url BASE_URL [--out DIR] [--dirty] [--here] [--no-arm64]
#
# It builds the commit's files (git archive) in build/release/src, so that
# the release is the commit's whatever the working tree holds; it refuses a
# tree with uncommitted changes unless --dirty, which builds the tracked
# files as they are. --here packages this tree's own builds (build/x64,
# build/x86, build/arm64, build/native), building only what they lack: the
# test command's way. The ARM64 module, host and package come where the
# ARM64 toolchain can be had (tools/arm64_toolchain.sh); otherwise one line
# says they are left out.
#
# Signing: with QB_SIGN_PFX (a PKCS#12 file) and QB_SIGN_PASSWORD, the
# modules and hosts are signed with osslsigncode before packaging and the
# packages after, time-stamped by QB_SIGN_TIMESTAMP_URL (RFC 3161) where set.
# Without QB_SIGN_PFX nothing is signed, and the release says so.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
. tools/version.sh

usage() {
    echo "usage: tools/release.sh --url BASE_URL [--out DIR] [--dirty] [--here] [--no-arm64]" >&2
    exit 2
}
url="" out=dist dirty=0 here=0 arm64=1
while [ $# -gt 0 ]; do
    case $1 in
        --url) [ $# -ge 2 ] || usage; url=${2%/}; shift ;;
        --out) [ $# -ge 2 ] || usage; out=$2; shift ;;
        --dirty) dirty=1 ;;
        --here) here=1 ;;
        --no-arm64) arm64=0 ;;
        *) usage ;;
    esac
    shift
done
[ -n "$url" ] || usage
case $out in /*) ;; *) out=$root/$out ;; esac
if [ -n "${QB_SIGN_PFX:-}" ] && [ ! -r "$QB_SIGN_PFX" ]; then
    echo "release: QB_SIGN_PFX names $QB_SIGN_PFX, which cannot be read" >&2
    exit 1
fi

work=$root/build/release
mkdir -p "$work"
# The bootstrap's lane records go to a folder of the release's own.
QB_LANES_DIR=$work/lanes ./tools/bootstrap.sh
version=$(qb_version)
commit=$(git rev-parse HEAD)
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH
changed=$(git status --porcelain --untracked-files=no)
if [ -n "$changed" ] && [ "$dirty" = 0 ] && [ "$here" = 0 ]; then
    echo "release: the working tree has uncommitted changes; commit them, or give --dirty" >&2
    exit 1
fi

# The tree that is built: a copy of the commit (or of the tracked files as
# they are, with --dirty), or this one (--here).
if [ "$here" = 1 ]; then
    tree=$root
else
    tree=$work/src
    rm -rf "$tree" && mkdir -p "$tree"
    snapshot=HEAD
    [ -z "$changed" ] || snapshot=$(git stash create)
    git archive "$snapshot" | tar -x -C "$tree"
fi
notes=""
note() { notes="$notes$1
"; echo "release: $1"; }
[ -z "$changed" ] || note "Built from commit $commit with uncommitted changes."

testing=""
[ "$here" = 1 ] || testing="-DBUILD_TESTING=OFF"
(
    cd "$tree"
    for preset in x64 x86; do
        # shellcheck disable=SC2086
        cmake --preset "$preset" $testing >/dev/null
        cmake --build --preset "$preset" --target quirebinder quirebinder_host
    done
    cmake --preset native >/dev/null
    cmake --build --preset native --target make_wxs
)
machines="x64 x86"
if [ "$arm64" = 1 ]; then
    status=0
    ./tools/arm64_toolchain.sh >/dev/null 2>"$work/arm64-toolchain.txt" || status=$?
    if [ "$status" -eq 0 ] && (cd "$tree" && cmake --preset arm64 >/dev/null &&
        cmake --build --preset arm64 --target quirebinder quirebinder_host); then
        machines="x64 x86 arm64"
    else
        note "No Arm64 package or zip: the ARM64 build could not be made ($(tail -n 1 "$work/arm64-toolchain.txt"))."
    fi
else
    note "No Arm64 package or zip: left out (--no-arm64)."
fi

release=$out/quirebinder-$version
rm -rf "$release" "$work/stage" "$work/zip"
mkdir -p "$release/winget" "$work/stage" "$work/zip"

sign() {
    [ -n "${QB_SIGN_PFX:-}" ] || return 0
    for file; do
        set -- -pkcs12 "$QB_SIGN_PFX" -readpass - -n Quirebinder -h sha256
        [ -z "${QB_SIGN_TIMESTAMP_URL:-}" ] || set -- "$@" -ts "$QB_SIGN_TIMESTAMP_URL"
        printf '%s' "${QB_SIGN_PASSWORD:-}" |
            osslsigncode sign "$@" -in "$file" -out "$file.signed" >/dev/null
        mv "$file.signed" "$file"
    done
}
if [ -n "${QB_SIGN_PFX:-}" ]; then
    note "Signed with the certificate in $(basename "$QB_SIGN_PFX")${QB_SIGN_TIMESTAMP_URL:+, time-stamped by $QB_SIGN_TIMESTAMP_URL}."
else
    note "Not signed: no code-signing certificate was given (QB_SIGN_PFX, QB_SIGN_PASSWORD)."
fi

module() { case $1 in x64) echo quirebinder64.dll ;; x86) echo quirebinder32.dll ;;
    arm64) echo quirebinderarm64.dll ;; esac; }
# The binaries of each machine, signed before they are packed.
for machine in $machines; do
    mkdir -p "$work/stage/$machine"
    cp "$tree/build/$machine/bin/quirebinder.exe" "$tree/build/$machine/bin/$(module "$machine")" \
        "$work/stage/$machine/"
    sign "$work/stage/$machine"/*
done

for machine in $machines; do
    # What the package and the zip of each machine hold: its module, the
    # 32-bit module beside a 64-bit one, its host.
    files="$work/stage/$machine/$(module "$machine")"
    [ "$machine" = x86 ] || files="$files $work/stage/x86/quirebinder32.dll"
    files="$files $work/stage/$machine/quirebinder.exe"
    msi=$release/quirebinder-$version-$machine.msi
    # shellcheck disable=SC2086
    sh "$tree/installer/build_msi.sh" "$tree/build/native/installer/make_wxs" "$machine" \
        "$version" "$work/stage/package-$machine" "$msi" $files >/dev/null
    sign "$msi"

    folder=quirebinder-$version-$machine
    mkdir -p "$work/zip/$folder"
    # shellcheck disable=SC2086
    cp $files "$work/zip/$folder/"
    cp README.md THIRD-PARTY-NOTICES.txt "$work/zip/$folder/"
    cp LICENSE "$work/zip/$folder/LICENSE.txt"
    chmod 644 "$work/zip/$folder"/*
    touch -d "@$SOURCE_DATE_EPOCH" "$work/zip/$folder"/*
    (cd "$work/zip" && find "$folder" -type f | LC_ALL=C sort |
        TZ=UTC zip -X -D -q -@ "$release/$folder.zip")
done

(cd "$release" && sha256sum -- *.msi *.zip >SHA256SUMS)

# The release notes: the version's entry of CHANGELOG.md, then the notes.
{
    echo "# Quirebinder $version"
    echo
    awk -v v="## $version" '$0 == v {on = 1; next} /^## / {on = 0} on && (NF || started) {started = 1; print}' CHANGELOG.md
    echo
    printf '%s' "$notes"
    echo "Commit $commit. Runs on Windows 7 and later (x86, x64) and Windows 10 and later on ARM64 PCs."
} >"$release/RELEASE-NOTES.md"

# The winget manifests (multi-file, 1.6.0).
id=Quirebinder.Quirebinder
manifest_head() {
    echo "# yaml-language-server: \$schema=https://aka.ms/winget-manifest.$1.1.6.0.schema.json"
    echo "PackageIdentifier: $id"
    echo "PackageVersion: $version"
}
manifest_tail() { echo "ManifestType: $1"; echo "ManifestVersion: 1.6.0"; }
{ manifest_head version; echo "DefaultLocale: en-US"; manifest_tail version; } >"$release/winget/$id.yaml"
{
    manifest_head installer
    echo "MinimumOSVersion: 6.1.7600.0"
    echo "InstallerType: msi"
    echo "Scope: machine"
    echo "UpgradeBehavior: install"
    echo "Installers:"
    for machine in $machines; do
        msi=quirebinder-$version-$machine.msi
        product=$(msiinfo export "$release/$msi" Property | sed -n 's/^ProductCode\t//p' | tr -d '\r')
        echo "- Architecture: $machine"
        echo "  InstallerUrl: $url/$msi"
        echo "  InstallerSha256: $(sha256sum "$release/$msi" | cut -d' ' -f1 | tr a-f A-F)"
        echo "  ProductCode: '$product'"
        echo "  UpgradeBehavior: install"
        # Windows on ARM64 PCs came with Windows 10.
        [ "$machine" != arm64 ] || echo "  MinimumOSVersion: 10.0.0.0"
    done
    manifest_tail installer
} >"$release/winget/$id.installer.yaml"
help=$(msiinfo export "$release/quirebinder-$version-x64.msi" Property | sed -n 's/^ARPHELPLINK\t//p' | tr -d '\r')
{
    manifest_head defaultLocale
    echo "PackageLocale: en-US"
    echo "Publisher: The Quirebinder developers"
    echo "PackageName: Quirebinder"
    echo "PackageUrl: $help"
    echo "License: MIT"
    echo "ShortDescription: Thumbnails, properties, search and a preview of MOBI e-books in Windows Explorer."
    echo "Tags:"
    for tag in mobi azw3 ebook thumbnail preview shell-extension; do echo "- $tag"; done
    manifest_tail defaultLocale
} >"$release/winget/$id.locale.en-US.yaml"

echo "release: $release"
(cd "$release" && find . -type f | LC_ALL=C sort | sed 's|^\./|  |')
