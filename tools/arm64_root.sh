#!/bin/sh
# Makes what tools/arm64_emulated_run.sh needs, from Debian's archive: qemu's
# user-mode emulator registered with binfmt_misc, and an arm64 Debian 12
# root with Wine ($QB_ARM64_ROOT, default
# ${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root). Needs root; about
# nine minutes on two shared cores. tools/test.sh runs it as root.
set -eu
root=${QB_ARM64_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-root}
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
    qemu-user-static binfmt-support debootstrap
mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
update-binfmts --enable qemu-aarch64
if [ ! -x "$root/usr/lib/wine/wine64" ]; then
    rm -rf "$root"
    debootstrap --arch=arm64 --variant=minbase --include=wine64 bookworm "$root" \
        http://deb.debian.org/debian
fi
