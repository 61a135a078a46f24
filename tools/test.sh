#!/bin/sh
# Builds everything and runs the whole test suite: the module check of both
# DLLs, the native parser tests with the bounded fuzz run, the Windows
# tests under Wine (with an Xvfb display and one wineserver for the run),
# and the installer package's install and removal in a fresh prefix.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh

cmake --preset native >/dev/null
cmake --build --preset native
for preset in x86 x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
cmake --build --preset native --target msi
# The ARM64 module and host, with the toolchain tools/arm64_toolchain.sh made.
cmake --preset arm64 >/dev/null
cmake --build --preset arm64

python3 tools/make_no_cover_bitmap.py --check
python3 tools/check_module.py build/x86/bin/quirebinder32.dll build/x64/bin/quirebinder64.dll
python3 tools/check_module.py build/arm64/bin/quirebinderarm64.dll
# The check must also fail where it should: the 32-bit module under the
# 64-bit name (machine, subsystem), a DLL with other exports, imports and
# no resources, and the x64 module under the ARM64 name.
wrong=build/module-check
rm -rf "$wrong" && mkdir -p "$wrong/machine" "$wrong/other"
cp build/x86/bin/quirebinder32.dll "$wrong/machine/quirebinder64.dll"
cp build/x64/propsys/full/propsys.dll "$wrong/other/quirebinder64.dll"
cp build/x64/bin/quirebinder64.dll "$wrong/machine/quirebinderarm64.dll"
for dll in "$wrong/machine/quirebinder64.dll" "$wrong/other/quirebinder64.dll" \
    "$wrong/machine/quirebinderarm64.dll"; do
    if python3 tools/check_module.py "$dll" >/dev/null; then
        echo "module check passed $dll, which it must refuse" >&2
        exit 1
    fi
done

ctest --preset native

# One display and one wineserver for all Windows test processes.
export WINEPREFIX="$(pwd)/build/x64/wineprefix"
display=:$(( ($$ % 400) + 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"

# The prefix is made once; the runner keeps one wineserver alive between
# test processes.
build/x64/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
ctest --preset x64
# The ARM64 host and module under an emulated arm64 Wine, where there is one.
./tools/arm64_emulated_run.sh

# The installer package, installed and removed in a fresh prefix of its own.
python3 tools/test_msi.py build/native/installer/package build/msi-prefix
