#!/bin/sh
# Builds everything and runs the whole test suite: the module check of both
# DLLs, the native parser tests with the bounded fuzz run, the Windows
# tests under Wine (with an Xvfb display and one wineserver per prefix for
# the run) twice: against the 64-bit module in a 64-bit prefix and against
# the 32-bit module in a 32-bit prefix (and its registration under WOW64),
# and each installer package's install and removal in a fresh prefix. Where
# 32-bit programs cannot run, one line says that the 32-bit suite was not
# run. Last, the number of tests of each suite.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh

cmake --preset native >/dev/null
cmake --build --preset native
for preset in x86 x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
# The ARM64 module and host, with the toolchain tools/arm64_toolchain.sh made.
cmake --preset arm64 >/dev/null
cmake --build --preset arm64
cmake --build --preset native --target msi

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

logs=build/test-logs
rm -rf "$logs" && mkdir -p "$logs"
ctest --preset native -O "$logs/native.txt"

# One display and one wineserver for all Windows test processes.
export WINEPREFIX="$(pwd)/build/x64/wineprefix"
display=:$(( ($$ % 400) + 100 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    for prefix in build/x64/wineprefix build/x86/wineprefix build/x86/wow64prefix; do
        WINEPREFIX="$(pwd)/$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    done
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"

# The prefix is made once; the runner keeps one wineserver alive between
# test processes.
build/x64/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
ctest --preset x64 -O "$logs/x64.txt"
# The ARM64 host and module under an emulated arm64 Wine. As root the
# emulator and the arm64 root are made first (once per machine); where they
# cannot be, the run says it was skipped and why.
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p build/arm64
    timeout 1800 ./tools/arm64_root.sh >build/arm64/root.log 2>&1 ||
        echo "arm64 root not made (see build/arm64/root.log)"
fi
./tools/arm64_emulated_run.sh

# The installer package, installed and removed in a fresh prefix of its own.
python3 tools/test_msi.py build/native/installer/package build/msi-prefix
python3 tools/test_msi.py build/native/installer/package-arm64 build/msi-arm64-prefix

# The same for the 32-bit module, where 32-bit programs run.
if not_run=$(./tools/can_run_32bit.sh); then
    for runner in build/x86/wine-run.sh build/x86/wow64-run.sh; do
        $runner cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
    done
    ctest --preset x86 -O "$logs/x86.txt"
    python3 tools/test_msi.py build/native/installer/package32 build/msi32-prefix
else
    echo "The 32-bit suite was not run: $not_run"
fi

# What each suite ran, from ctest's summary line.
echo
for suite in native x64 x86; do
    summary=$(grep -h "tests passed, " "$logs/$suite.txt" 2>/dev/null | tail -n 1)
    skipped=$(grep -c "(Skipped)" "$logs/$suite.txt" 2>/dev/null || true)
    if [ -n "$summary" ]; then
        echo "$suite suite: ${summary##* out of } tests, all passed (${skipped:-0} skipped)"
    else
        echo "$suite suite: not run"
    fi
done
