#!/bin/sh
# Installs, idempotently, every Debian package the build and the tests need.
# libmobi is the independent reader the native tests and the benchmarks
# compare against; the CJK font lets the captures of Chinese and Japanese
# books show their characters under Wine; wine32 (i386 multiarch) runs the
# 32-bit module's tests. With --bench it also installs
# what only tools/bench.sh needs (strace, for the bytes the folder
# benchmark reads).
set -eu

PACKAGES="cmake ninja-build make python3
g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
wine wine64 wine32:i386 xvfb xauth
googletest
clang libclang-rt-14-dev llvm
libmobi-dev pkg-config
wixl msitools
fonts-wqy-microhei"

BENCH_PACKAGES="strace"

if [ "${1:-}" = "--bench" ]; then
    PACKAGES="$PACKAGES $BENCH_PACKAGES"
fi

# wine32 comes from the i386 architecture, which dpkg must know first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO dpkg --add-architecture i386
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    # Another apt may hold dpkg's lock for a while: wait for it.
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q
    # shellcheck disable=SC2086
    $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $missing
fi

# The ARM64 toolchain, built once per machine in a cache folder (see the
# script); quiet when it is there already.
"$(dirname "$0")/arm64_toolchain.sh" >/dev/null
