#!/bin/sh
# Installs, idempotently, the Debian packages the build and the tests need:
# first the main job's set (cross compilers, CMake, Ninja, the 64-bit Wine
# and Xvfb, wixl and msitools, clang and GoogleTest for the native tests,
# libmobi, the independent reader they compare against, the fonts the
# user interface's scripts need (CJK and Korean, Arabic and Thai, Hebrew),
# and what the release command uses: faketime, zip, osslsigncode and
# openssl), then each test lane's
# set on its own (tools/lanes.sh): the 32-bit Wine, the ARM64 toolchain's
# compilers, and, only with QB_ARM64_EMULATION=1, the emulator and
# debootstrap. Only the main set's failure fails this script; a lane whose
# set cannot be had is named, with the package manager's words. With
# --bench it also installs what only tools/bench.sh needs (strace).
set -eu
QB_LANES_DIR=${QB_LANES_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build/lanes}
. "$(dirname "$0")/lanes.sh"
rm -rf "$lanes_dir"

MAIN="cmake ninja-build make python3
g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
wine wine64 xvfb xauth
googletest clang libclang-rt-14-dev llvm
libmobi-dev pkg-config
wixl msitools
fonts-wqy-microhei fonts-noto-ui-core fonts-dejavu-core
faketime zip osslsigncode openssl"
[ "${1:-}" != "--bench" ] || MAIN="$MAIN strace"
LANE_32BIT="wine32:i386"
LANE_ARM64="clang-14 lld-14 llvm-14 libclang-common-14-dev xz-utils bzip2"
LANE_EMULATED="qemu-user-static binfmt-support debootstrap"
[ "${QB_ARM64_EMULATION:-0}" = 1 ] || LANE_EMULATED=""

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT

missing() {
    for p; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            printf '%s ' "$p"
    done
}
# The package manager's own words: its error lines, on one line.
apt_words() {
    words=$(grep '^E: ' "$log" | sed 's/ \[IP: [^]]*\]//' | tr '\n' ' ' | sed 's/ $//')
    echo "${words:-$(tail -n 1 "$log")}"
}

# One index that fails (a mirror in mid-sync) does not stop the set-up:
# the update is tried three times, then the installs decide.
updated=0
update() {
    [ "$updated" = 0 ] || return 0
    updated=1
    for try in 1 2 3; do
        # Another apt may hold dpkg's lock for a while: wait for it.
        $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q >"$log" 2>&1 && return 0
        [ "$try" = 3 ] || sleep "${QB_APT_RETRY_DELAY:-5}"
    done
    failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\)  *\(.*\)/\1: \2/p' "$log" |
        sed 's/ \[IP: [^]]*\]//' | tr '\n' ';' | sed 's/;$//; s/;/; /g')
    echo "bootstrap: package index not updated (${failed:-$(apt_words)}); installing with the indexes there are" >&2
}

# install_set LANE PACKAGES: an empty LANE for the main set.
install_set() {
    lane=$1
    shift
    # shellcheck disable=SC2046
    set -- $(missing "$@")
    [ $# -gt 0 ] || return 0
    update
    echo "bootstrap: installing $*" >&2
    if $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
        return 0
    fi
    if [ -z "$lane" ]; then
        cat "$log" >&2
        echo "bootstrap: the build's packages could not be installed: $(apt_words)" >&2
        exit 1
    fi
    lane_not_run "$lane" "apt-get could not install $*: $(apt_words)"
}

# wine32 comes from the i386 architecture, which dpkg must know first.
if [ -n "$(missing $LANE_32BIT)" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "bootstrap: adding the i386 architecture to dpkg, for the 32-bit Wine (wine32:i386)" >&2
    if ! $SUDO dpkg --add-architecture i386 >"$log" 2>&1; then
        lane_not_run 32-bit "dpkg --add-architecture i386 failed: $(tr '\n' ' ' <"$log")"
    fi
fi
install_set "" $MAIN
lane_out 32-bit || install_set 32-bit $LANE_32BIT
install_set arm64 $LANE_ARM64
[ -z "$LANE_EMULATED" ] || install_set arm64-emulated $LANE_EMULATED
