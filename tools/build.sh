#!/bin/sh
# Builds everything a user gets: the three modules, quirebinder.exe for
# x86, x64 and ARM64, and the installer packages. Then shows the host at work under
# Wine on a sample book: writes its thumbnail and prints its properties.
# The ARM64 module and host come last, from the ARM64 lane (tools/lanes.sh):
# where its toolchain cannot be had or made, the rest is built and one line
# says what was not.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh
. tools/lanes.sh

for preset in x86 x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target quirebinder quirebinder_host
done
# The host under Wine: quirebinder.exe beside the module and the tests'
# stand-in propsys.dll (README, "Running the host under Wine").
cmake --build --preset x64 --target qb_host_wine
cmake --preset native >/dev/null
cmake --build --preset native --target msi

book=tests/data/books/cafe-noir.mobi
host=build/x64/host-wine
mkdir -p build/demo
echo
echo "quirebinder thumbnail $book --size 256 -o build/demo/cafe-noir.png"
build/x64/wine-run.sh "$host/quirebinder.exe" thumbnail "$book" --size 256 \
    -o build/demo/cafe-noir.png --dll "$host/quirebinder64.dll" </dev/null
echo
echo "quirebinder properties $book"
build/x64/wine-run.sh "$host/quirebinder.exe" properties "$book" \
    --dll "$host/quirebinder64.dll" </dev/null
WINEPREFIX="$(pwd)/build/x64/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true

# The ARM64 lane, with the toolchain tools/arm64_toolchain.sh makes once per
# machine (about three minutes the first time).
if ! lane_out arm64; then
    status=0
    mkdir -p build/arm64
    ./tools/arm64_toolchain.sh >/dev/null 2>build/arm64/toolchain.log || status=$?
    if [ "$status" -eq 75 ]; then
        lane_not_run arm64 "$(tail -n 1 build/arm64/toolchain.log)"
    elif [ "$status" -ne 0 ]; then
        lane_failed arm64 "tools/arm64_toolchain.sh failed (see build/arm64/toolchain.log)"
    elif ! { cmake --preset arm64 >/dev/null &&
        cmake --build --preset arm64 --target quirebinder quirebinder_host &&
        cmake --build --preset native --target msi_arm64; }; then
        lane_failed arm64 "the ARM64 build failed"
    fi
fi

echo
echo "quirebinder32.dll: $(pwd)/build/x86/bin/quirebinder32.dll"
echo "quirebinder64.dll: $(pwd)/build/x64/bin/quirebinder64.dll"
echo "quirebinder.exe:   $(pwd)/build/x64/bin/quirebinder.exe (x86_64)"
echo "                   $(pwd)/build/x86/bin/quirebinder.exe (i686)"
if ! lane_out arm64; then
    echo "quirebinderarm64.dll: $(pwd)/build/arm64/bin/quirebinderarm64.dll"
    echo "quirebinder.exe:   $(pwd)/build/arm64/bin/quirebinder.exe (ARM64)"
fi
echo "installers:        $(ls "$(pwd)"/build/native/quirebinder-*-x64.msi | tail -n 1) (64-bit Windows)"
echo "                   $(ls "$(pwd)"/build/native/quirebinder-*-x86.msi | tail -n 1) (32-bit Windows)"
if ! lane_out arm64; then
    echo "                   $(ls "$(pwd)"/build/native/quirebinder-*-arm64.msi | tail -n 1) (Windows on ARM)"
fi
lanes_summary | grep "^arm64 " || true
