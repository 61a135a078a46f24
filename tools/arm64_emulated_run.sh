#!/bin/sh
# Runs the ARM64 quirebinder.exe with the ARM64 module - thumbnail,
# properties and text of a sample book - under Debian's arm64 Wine, which
# qemu's user-mode emulator runs through binfmt_misc in an arm64 root made
# by tools/arm64_root.sh ($QB_ARM64_ROOT, default
# ${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root). Its output must be
# the x64 host's under Wine, byte for byte. Without the emulator or the root
# (or root rights for chroot) it says so and exits 75.
# Usage: arm64_emulated_run.sh (after the x64 and arm64 builds, with the
# display and wineserver of tools/test.sh).
set -eu
cd "$(dirname "$0")/.."
root=${QB_ARM64_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root}

if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || [ ! -x "$root/usr/lib/wine/wine64" ] ||
    [ "$(id -u)" -ne 0 ]; then
    echo "arm64 emulated run: not run (needs root, qemu-aarch64 in binfmt_misc and an arm64" \
        "Wine in $root: tools/arm64_root.sh makes them)" >&2
    exit 75
fi

# The host beside the module and the stand-in propsys.dll, as under x64 Wine.
host=build/arm64/host-wine
out=build/arm64/emulated
rm -rf "$host" "$out" && mkdir -p "$host" "$out/arm64" "$out/x64" "$root/qb"
cp build/arm64/bin/quirebinder.exe build/arm64/bin/quirebinderarm64.dll \
    build/arm64/propsys/full/propsys.dll "$host/"

# In a mount namespace of its own: /proc and the source tree (as /qb) are
# mounted in the root for this program only and go with it.
# The prefix is made without the propsys override: Wine's imaging component
# needs its own propsys.dll to register its decoders.
overrides="mscoree,mshtml=;winemenubuilder.exe=d"
arm64_wine() {
    unshare --mount --fork sh -c '
        r=$0 && mount -t proc proc "$r/proc" && mount --bind "$1" "$r/qb" && o=$2 && shift 2 &&
        exec chroot "$r" /bin/sh -c "cd /qb && exec \"\$@\"" sh \
            env HOME=/qb/build/arm64/winehome WINEPREFIX=/qb/build/arm64/wineprefix \
            WINEDEBUG=-all WINEDLLOVERRIDES="$o" timeout 600 /usr/lib/wine/wine64 "$@"' \
        "$root" "$(pwd)" "$overrides" "$@"
}
mkdir -p build/arm64/winehome
[ -d build/arm64/wineprefix ] || arm64_wine wineboot -i </dev/null >/dev/null 2>&1 || true
overrides="propsys=n;$overrides"

book=tests/data/books/cafe-noir.mobi
status=0
for machine in arm64 x64; do
    if [ "$machine" = arm64 ]; then
        run=arm64_wine exe=$host/quirebinder.exe dll=$host/quirebinderarm64.dll
    else
        run=build/x64/wine-run.sh exe=build/x64/host-wine/quirebinder.exe
        dll=build/x64/host-wine/quirebinder64.dll
    fi
    $run "$exe" thumbnail "$book" --size 256 -o "$out/$machine/cover.png" --dll "$dll" \
        </dev/null >"$out/$machine/thumbnail.txt" 2>&1 || status=1
    $run "$exe" properties "$book" --dll "$dll" </dev/null >"$out/$machine/properties.txt" 2>&1 ||
        status=1
    $run "$exe" text "$book" --dll "$dll" </dev/null >"$out/$machine/text.txt" 2>&1 || status=1
done
# The thumbnail's message names its output file: only its size is compared.
for file in cover.png properties.txt text.txt; do
    if ! cmp -s "$out/arm64/$file" "$out/x64/$file"; then
        echo "arm64 emulated run: $file differs from the x64 host's (see $out)" >&2
        status=1
    fi
done
for machine in arm64 x64; do
    grep -q "(192x256)" "$out/$machine/thumbnail.txt" || status=1
done
if [ "$status" -ne 0 ]; then
    echo "arm64 emulated run: FAILED" >&2
    exit 1
fi
echo "arm64 emulated run: thumbnail, properties and text as the x64 host's"
