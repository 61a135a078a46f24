#!/bin/sh
# Makes what tools/arm64_emulated_run.sh needs: qemu's user-mode emulator
# registered with binfmt_misc for aarch64, and an arm64 Debian 12 root with
# Wine ($QB_ARM64_ROOT, default
# ${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root). Both change the
# machine, so tools/test.sh runs this only with QB_ARM64_EMULATION=1, after
# tools/bootstrap.sh has installed qemu-user-static, binfmt-support and
# debootstrap. Needs root; about nine minutes on two shared cores. Exits 75
# when debootstrap cannot get the packages, with its words. Undo with
# `update-binfmts --disable qemu-aarch64` and removing the root's folder.
set -eu
root=${QB_ARM64_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root}
for tool in update-binfmts debootstrap; do
    command -v "$tool" >/dev/null ||
        { echo "$tool is missing: QB_ARM64_EMULATION=1 tools/bootstrap.sh installs it" >&2; exit 1; }
done
mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
update-binfmts --enable qemu-aarch64
[ ! -x "$root/usr/lib/wine/wine64" ] || exit 0

# A half-made root (a killed debootstrap) is made anew. Only a folder that is
# empty or holds a Debian root is removed, never across a mount point: a
# killed run can leave /proc mounted inside it.
if [ -d "$root" ] && [ ! -d "$root/debootstrap" ] && [ ! -d "$root/var/lib/dpkg" ] &&
    find "$root" -mindepth 1 -maxdepth 1 | grep -q .; then
    echo "$root is not an arm64 root this script made: left alone" >&2
    exit 1
fi
awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r |
    while read -r mount; do umount "$mount"; done
rm -rf --one-file-system "$root"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! debootstrap --arch=arm64 --variant=minbase --include=wine64 bookworm "$root" \
    http://deb.debian.org/debian >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "debootstrap of the arm64 root failed: $(grep '^E: ' "$log" | tr '\n' ' ')" >&2
    # Its own error (the archive, the network) is not ours.
    grep -q '^E: ' "$log" && exit 75
    exit 1
fi
