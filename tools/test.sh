#!/bin/sh
# Builds everything and runs the whole test suite: the module check of both
# DLLs, the native parser tests with the bounded fuzz run, the Windows
# tests under Wine (with an Xvfb display and one wineserver per prefix for
# the run) twice: against the 64-bit module in a 64-bit prefix and against
# the 32-bit module in a 32-bit prefix (and its registration under WOW64),
# each installer package's install and removal in a fresh prefix, and a
# release of the builds, checked (tools/test_release.sh). The
# test lanes (tools/lanes.sh) come after the main job: the 32-bit suite, the
# ARM64 build and, with QB_ARM64_EMULATION=1, its emulated run. Last, the
# number of tests of each suite and every lane not run, and why.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh
. tools/lanes.sh
sh tests/setup/bootstrap_test.sh

cmake --preset native >/dev/null
cmake --build --preset native
for preset in x86 x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
cmake --build --preset native --target msi

python3 tools/make_no_cover_bitmap.py --check
python3 tools/make_icon.py --check
python3 tools/check_includes.py
# The version the modules must carry: the one every build generates.
identity=build/native/generated/identity.h
python3 tools/check_module.py --identity "$identity" build/x86/bin/quirebinder32.dll build/x64/bin/quirebinder64.dll
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
    if python3 tools/check_module.py --identity "$identity" "$dll" >/dev/null; then
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


# The 32-bit lane: the same for the 32-bit module, where 32-bit programs run.
status=0
why=$(./tools/can_run_32bit.sh) || status=$?
if lane_out 32-bit; then
    :
elif [ "$status" -eq 1 ]; then
    lane_not_run 32-bit "$why"
elif [ "$status" -ne 0 ]; then
    lane_failed 32-bit "$why"
else
    for runner in build/x86/wine-run.sh build/x86/wow64-run.sh; do
        if ! $runner cmd /c exit 0 >"$logs/prefix-${runner##*/}.txt" 2>&1 </dev/null; then
            lane_failed 32-bit "the prefix of $runner did not start (see $logs/prefix-${runner##*/}.txt)"
            break
        fi
    done
fi
if ! lane_out 32-bit; then
    ctest --preset x86 -O "$logs/x86.txt"
    python3 tools/test_msi.py build/native/installer/package32 build/msi32-prefix
fi

# The ARM64 lane: the module and host, with the toolchain
# tools/arm64_toolchain.sh makes once per machine.
if ! lane_out arm64; then
    status=0
    ./tools/arm64_toolchain.sh >/dev/null 2>"$logs/arm64-toolchain.txt" || status=$?
    if [ "$status" -eq 75 ]; then
        lane_not_run arm64 "$(tail -n 1 "$logs/arm64-toolchain.txt")"
    elif [ "$status" -ne 0 ]; then
        lane_failed arm64 "tools/arm64_toolchain.sh failed (see $logs/arm64-toolchain.txt)"
    elif ! { cmake --preset arm64 >/dev/null && cmake --build --preset arm64; }; then
        lane_failed arm64 "the ARM64 build failed"
    fi
fi
if ! lane_out arm64; then
    python3 tools/check_module.py --identity "$identity" build/arm64/bin/quirebinderarm64.dll
    cmake --build --preset native --target msi_arm64
fi

# The x64 package, installed and removed in a fresh prefix of its own (after
# the ARM64 lane, whose Arm64 package its installer must refuse).
python3 tools/test_msi.py build/native/installer/package build/msi-prefix

# The release (tools/release.sh) of these builds, checked: its zips, sums
# and manifests, reproducible modules and packages, a signed release.
if lane_out arm64; then sh tools/test_release.sh --no-arm64; else sh tools/test_release.sh; fi

# The emulated ARM64 lane: the ARM64 host and module under an emulated
# arm64 Wine. The emulator and the arm64 root change the machine: they are
# made (once per machine) only when asked for.
if lane_out arm64; then
    lane_not_run arm64-emulated "the ARM64 lane was not run"
elif [ "${QB_ARM64_EMULATION:-0}" != 1 ]; then
    lane_not_run arm64-emulated "not asked for (QB_ARM64_EMULATION=1 sets it up)"
elif [ "$(id -u)" -ne 0 ]; then
    lane_not_run arm64-emulated "needs root (it mounts and chroots into the arm64 root)"
elif ! lane_out arm64-emulated; then
    status=0
    mkdir -p build/arm64
    timeout 1800 ./tools/arm64_root.sh >"$logs/arm64-root.txt" 2>&1 || status=$?
    if [ "$status" -eq 75 ]; then
        lane_not_run arm64-emulated "$(tail -n 1 "$logs/arm64-root.txt")"
    elif [ "$status" -ne 0 ]; then
        lane_failed arm64-emulated "tools/arm64_root.sh failed (see $logs/arm64-root.txt)"
    else
        status=0
        ./tools/arm64_emulated_run.sh || status=$?
        [ "$status" -ne 75 ] || lane_failed arm64-emulated "the emulated run could not start"
        [ "$status" -eq 0 ] || [ "$status" -eq 75 ] || exit 1
        # The Arm64 package, installed and removed by the emulated arm64
        # Wine's installer (and the x64 one's refusal of it).
        [ "$status" -ne 0 ] ||
            python3 tools/test_msi.py build/native/installer/package-arm64 build/msi-arm64-prefix
    fi
fi

# What each suite ran, from ctest's summary line.
echo
for suite in native x64 x86; do
    summary=$(grep -h "tests passed, " "$logs/$suite.txt" 2>/dev/null | tail -n 1)
    skipped=$(grep -c "(Skipped)" "$logs/$suite.txt" 2>/dev/null || true)
    if [ -n "$summary" ]; then
        echo "$suite suite: ${summary##* out of } tests, all passed (${skipped:-0} skipped)"
    elif [ "$suite" != x86 ] || ! lane_out 32-bit; then
        echo "$suite suite: not run"
    fi
done
lanes_summary
