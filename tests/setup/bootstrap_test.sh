#!/bin/sh
# tools/bootstrap.sh against stand-ins for apt-get, dpkg-query and dpkg put
# first on PATH: an archive whose i386 security index fails to update and
# which cannot serve wine32:i386 (or, per case, another package). Nothing
# is installed on this machine. Run by tools/test.sh.
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/tools"
cp "$src/tools/bootstrap.sh" "$src/tools/lanes.sh" "$work/tools/"

cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
while [ "${1:-}" = -o ]; do shift 2; done
echo "$*" >>"$STANDIN/apt.log"
case $1 in
update)
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
install)
    for p; do
        if [ "$p" = "$STANDIN_BROKEN" ]; then
            echo " $p : Depends: libwine:i386 but it is not going to be installed"
            echo "E: Unable to correct problems, you have held broken packages." >&2
            exit 100
        fi
    done
    shift
    for p; do echo "$p"; done >>"$STANDIN/installed" ;;
esac
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
for p; do :; done
[ "$STANDIN_INSTALLED" = all ] || grep -qx -- "$p" "$STANDIN/installed" || exit 1
echo "install ok installed"
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
echo "$*" >>"$STANDIN/dpkg.log"
case $1 in
--print-foreign-architectures) cat "$STANDIN/archs" ;;
--add-architecture) echo "$2" >>"$STANDIN/archs" ;;
esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

# case | environment | exit status | lines the output must have (;-separated)
# | what apt-get must be asked (;-separated) | what it must not be asked
cases='
a fresh machine|-|0|package index not updated (http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz: File has unexpected size;32-bit lane not run: apt-get could not install wine32:i386: E: Unable to correct problems, you have held broken packages.; lost: the 32-bit|update;install.* wine64 .*msitools;install.* clang-14 |qemu-user-static
CI: all lanes and the emulated run asked for|QB_ALL_LANES=1 QB_ARM64_EMULATION=1|0|32-bit lane not run: apt-get could not install wine32:i386|install.* qemu-user-static binfmt-support debootstrap|QB_NONE
dpkg without i386|STANDIN_ARCHS=|0|adding the i386 architecture to dpkg;32-bit lane not run|install.* wine32:i386|QB_NONE
the ARM64 compilers cannot be had|STANDIN_BROKEN=lld-14|0|arm64 lane not run: apt-get could not install clang-14 lld-14 .*E: Unable to correct;lost: the ARM64 module|install.* wine32:i386|QB_NONE
the build itself cannot be had|STANDIN_BROKEN=wixl QB_ALL_LANES=1|1|could not be installed: E: Unable to correct problems|install.* wixl|wine32
everything installed|STANDIN_INSTALLED=all|0|QB_NONE|QB_NONE|.
'
echo "$cases" | while IFS='|' read -r name env status must asked not_asked; do
    [ -n "$name" ] || continue
    rm -rf "$work/state" "$work/build" && mkdir "$work/state" && : >"$work/state/installed"
    : >"$work/state/apt.log"
    actual=0
    # shellcheck disable=SC2046
    env PATH="$work/bin:$PATH" STANDIN="$work/state" STANDIN_BROKEN=wine32:i386 \
        STANDIN_INSTALLED= STANDIN_ARCHS=i386 QB_APT_RETRY_DELAY=0 QB_ALL_LANES=0 \
        QB_ARM64_EMULATION=0 $( [ "$env" = - ] || echo "$env") \
        sh -c 'echo "$STANDIN_ARCHS" >"$STANDIN/archs" && exec "$0"' "$work/tools/bootstrap.sh" \
        >"$work/out" 2>&1 || actual=$?
    problem=""
    [ "$actual" = "$status" ] || problem="exit status $actual, not $status"
    check() { # file pattern present(1)/absent(0)
        if grep -q -- "$2" "$1"; then found=1; else found=0; fi
        [ "$found" = "$3" ] || problem="$problem; $(basename "$1") $([ "$3" = 1 ] && echo lacks || echo has) '$2'"
    }
    IFS=';'
    for p in $must; do [ "$p" = QB_NONE ] || check "$work/out" "$p" 1; done
    for p in $asked; do [ "$p" = QB_NONE ] || check "$work/state/apt.log" "$p" 1; done
    for p in $not_asked; do [ "$p" = QB_NONE ] || check "$work/state/apt.log" "$p" 0; done
    unset IFS
    if [ -n "$problem" ]; then
        echo "bootstrap test FAILED: $name: ${problem#; }" >&2
        sed 's/^/    /' "$work/out" >&2
        exit 1
    fi
done
echo "bootstrap test: $(echo "$cases" | grep -c '|') cases passed"
