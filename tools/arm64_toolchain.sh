#!/bin/sh
# Makes, once per machine, the toolchain that builds the ARM64 module and
# quirebinder.exe: Debian's clang 14 and lld 14 with a sysroot built here
# from Debian's source packages - the mingw-w64 headers and CRT for
# aarch64-w64-mingw32, the compiler-rt builtins, and libunwind, libc++abi and
# libc++ as static libraries. Nothing is written into the system's clang: the
# builtins live in a private resource directory that the wrappers name.
#
# The toolchain goes to $QB_ARM64_TOOLCHAIN (default
# ${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-toolchain), outside the
# source tree; a folder this script did not make (no stamp or mark, not
# empty) is refused. A stamp file holds the source versions it was built
# from; when it matches, the script does nothing. Prints the toolchain's
# directory. Needs the compilers tools/bootstrap.sh installs (clang-14,
# lld-14, llvm-14). Exits 75 when the archive cannot serve the sources, with
# apt's words; any other failure is the script's own.
set -eu

CLANG_VERSION=14
SOURCES="mingw-w64 llvm-toolchain-$CLANG_VERSION"
TRIPLE=aarch64-w64-mingw32

root=${QB_ARM64_TOOLCHAIN:-${XDG_CACHE_HOME:-$HOME/.cache}/quirebinder/arm64-toolchain}
# The mark is set before the first build; the private sources list (below)
# is what earlier versions of this script left in a folder they began.
mark="$root/.quirebinder-arm64-toolchain"
if [ -d "$root" ] && [ ! -e "$root/stamp" ] && [ ! -e "$mark" ] &&
    ! grep -qsx "deb-src http://deb.debian.org/debian bookworm main" "$root/apt/sources.list" &&
    find "$root" -mindepth 1 -maxdepth 1 ! -name .lock | grep -q .; then
    echo "$root holds files this script did not make (no stamp): left alone;" \
        "set QB_ARM64_TOOLCHAIN to a new or empty folder" >&2
    exit 1
fi
mkdir -p "$root"
: >"$mark"
exec 9>"$root/.lock"
flock 9
if [ ! -x /usr/lib/llvm-$CLANG_VERSION/bin/clang ] || [ ! -x /usr/lib/llvm-$CLANG_VERSION/bin/ld.lld ]; then
    echo "clang-$CLANG_VERSION and lld-$CLANG_VERSION are missing: tools/bootstrap.sh installs them" >&2
    exit 1
fi

# A private sources list with the deb-src line, its own lists and archive
# cache: the system's apt configuration is left as it is.
apt_dir="$root/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
echo "deb-src http://deb.debian.org/debian bookworm main" >"$apt_dir/sources.list"
apt_options() {
    echo -o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=- \
        -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir" \
        -o APT::Get::List-Cleanup=0
    # Root downloads into the cache folder, which the _apt user cannot write.
    [ "$(id -u)" -ne 0 ] || echo -o APT::Sandbox::User=root
}
# The archive's own failure: its error lines, and exit status 75.
apt_log="$apt_dir/apt.log"
# shellcheck disable=SC2046
apt_private() {
    apt-get -q $(apt_options) "$@" >"$apt_log" 2>&1 || {
        echo "apt-get $1 of the toolchain's sources failed: $(grep '^E: ' "$apt_log" | tr '\n' ' ')" >&2
        exit 75
    }
}
if ! ls "$apt_dir/lists/"*Sources* >/dev/null 2>&1; then
    apt_private update
fi
versions=""
for s in $SOURCES; do
    v=$(apt-cache $(apt_options) showsrc "$s" 2>/dev/null | sed -n 's/^Version: //p' | head -n 1)
    [ -n "$v" ] || { echo "no source package $s in the archive" >&2; exit 75; }
    versions="$versions$s=$v "
done
# The tools under the triple's names. The drivers add the link flags only
# when they link, so that compiling with -Werror meets no unused argument.
llvm_bin=/usr/lib/llvm-$CLANG_VERSION/bin
mkdir -p "$root/bin"
for tool in ar ranlib nm strip objcopy dlltool; do
    ln -sf "$llvm_bin/llvm-$tool" "$root/bin/$TRIPLE-$tool"
done
printf '#!/bin/sh\nexec %s/llvm-windres --target=%s -I%s "$@"\n' \
    "$llvm_bin" "$TRIPLE" "$root/sysroot/$TRIPLE/include" >"$root/bin/$TRIPLE-windres"
for driver in clang clang++; do
    stdlib=""
    [ "$driver" = clang++ ] && stdlib="-stdlib=libc++"
    {
        echo '#!/bin/sh'
        echo 'link="-fuse-ld=lld -rtlib=compiler-rt -unwindlib=libunwind"'
        echo 'for a; do case $a in -c|-E|-S|-M|-MM) link="" ;; esac; done'
        echo "exec $llvm_bin/$driver --target=$TRIPLE --sysroot=$root/sysroot \\"
        echo "    -resource-dir=$root/resource $stdlib \$link \"\$@\""
    } >"$root/bin/$TRIPLE-$driver"
done
chmod +x "$root/bin/$TRIPLE-windres" "$root/bin/$TRIPLE-clang" "$root/bin/$TRIPLE-clang++"

stamp="$root/stamp"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$versions" ] && [ -x "$root/bin/$TRIPLE-clang++" ]; then
    echo "$root"
    exit 0
fi

start=$(date +%s)
rm -rf "$root/src" "$root/build" "$root/sysroot" "$root/resource" "$stamp"
mkdir -p "$root/src" "$root/build" "$root/downloads"
cd "$root/downloads"
# The upstream archives by their versions (no epoch, no Debian revision):
# those of an earlier version may still be in the folder.
orig() {
    v=$(echo "$versions" | tr ' ' '\n' | sed -n "s/^$1=//p")
    v=${v#*:}
    echo "$root/downloads/${1}_${v%-*}.orig.tar.$2"
}
for s in $versions; do
    apt_private source --download-only "$s"
done
cd "$root/src"
tar -xjf "$(orig mingw-w64 bz2)"
# Only the runtimes and the build files they use, out of the whole LLVM tree.
tar -xJf "$(orig llvm-toolchain-$CLANG_VERSION xz)" --wildcards \
    '*/compiler-rt/*' '*/libunwind/*' '*/libcxx/*' '*/libcxxabi/*' '*/runtimes/*' \
    '*/cmake/*' '*/llvm/utils/*'
mingw_src=$(ls -d "$root/src"/mingw-w64-*/)
llvm_src=$(ls -d "$root/src"/llvm-toolchain-*/)

sysroot="$root/sysroot"
prefix="$sysroot/$TRIPLE"
resource="$root/resource"
clang_resource=$("$llvm_bin/clang" -print-resource-dir)
mkdir -p "$resource/lib/windows"
cp -r "$clang_resource/include" "$resource/"

export PATH="$root/bin:$PATH"
jobs=$(nproc)

# The mingw-w64 headers and CRT (ARM64 only, msvcrt.dll as the C runtime).
mkdir -p "$root/build/headers" "$root/build/crt"
(cd "$root/build/headers" && "$mingw_src/mingw-w64-headers/configure" -q \
    --host=$TRIPLE --prefix="$prefix" && make -s install >/dev/null)
(cd "$root/build/crt" && "$mingw_src/mingw-w64-crt/configure" -q \
    --host=$TRIPLE --prefix="$prefix" --enable-libarm64 --disable-lib32 --disable-lib64 \
    CC=$TRIPLE-clang AR=$TRIPLE-ar RANLIB=$TRIPLE-ranlib DLLTOOL=$TRIPLE-dlltool \
    && { nice make -s -j"$jobs" >"$root/build/crt.log" 2>&1 ||
        { tail -n 30 "$root/build/crt.log" >&2; exit 1; }; } && make -s install >/dev/null)

# The compiler-rt builtins, into the private resource directory.
cmake -S "$llvm_src/compiler-rt/lib/builtins" -B "$root/build/builtins" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=$TRIPLE-clang -DCMAKE_C_COMPILER_TARGET=aarch64-w64-windows-gnu \
    -DCMAKE_ASM_COMPILER=$TRIPLE-clang -DCMAKE_ASM_COMPILER_TARGET=aarch64-w64-windows-gnu \
    -DCMAKE_AR="$llvm_bin/llvm-ar" -DCMAKE_RANLIB="$llvm_bin/llvm-ranlib" \
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_C_COMPILER_WORKS=ON \
    -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON -DLLVM_CONFIG_PATH= \
    -DCOMPILER_RT_OUTPUT_DIR="$root/build/builtins/out" >/dev/null
nice cmake --build "$root/build/builtins" -- -j"$jobs" >"$root/build/builtins.log" ||
    { tail -n 30 "$root/build/builtins.log" >&2; exit 1; }
cp "$(find "$root/build/builtins/out" -name 'libclang_rt.builtins-aarch64.a')" "$resource/lib/windows/"

# libunwind, libc++abi and libc++, static, with Windows threads.
cmake -S "$llvm_src/runtimes" -B "$root/build/runtimes" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_C_COMPILER=$TRIPLE-clang -DCMAKE_CXX_COMPILER=$TRIPLE-clang++ \
    -DCMAKE_C_COMPILER_TARGET=aarch64-w64-windows-gnu -DCMAKE_CXX_COMPILER_TARGET=aarch64-w64-windows-gnu \
    -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_CXX_COMPILER_WORKS=ON \
    -DCMAKE_AR="$llvm_bin/llvm-ar" -DCMAKE_RANLIB="$llvm_bin/llvm-ranlib" \
    -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" -DLLVM_INCLUDE_TESTS=OFF \
    -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF \
    -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON \
    -DLIBCXXABI_ENABLE_SHARED=OFF -DLIBCXXABI_LIBDIR_SUFFIX= -DLIBCXXABI_INCLUDE_TESTS=OFF \
    -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON \
    -DLIBCXX_CXX_ABI=libcxxabi -DLIBCXX_LIBDIR_SUFFIX= -DLIBCXX_INCLUDE_TESTS=OFF \
    -DLIBCXX_INCLUDE_BENCHMARKS=OFF -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF >/dev/null
nice cmake --build "$root/build/runtimes" -- -j"$jobs" >"$root/build/runtimes.log" ||
    { tail -n 30 "$root/build/runtimes.log" >&2; exit 1; }
cmake --install "$root/build/runtimes" >/dev/null

rm -rf "$root/build" "$root/src"
echo "$versions" >"$stamp"
echo "arm64 toolchain built in $(( $(date +%s) - start )) s ($versions)" >&2
echo "$root"
