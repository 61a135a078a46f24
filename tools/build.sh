#!/bin/sh
# Builds both modules (quirebinder32.dll and quirebinder64.dll) and prints
# where they are.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh

for preset in x86 x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target quirebinder
done

echo "quirebinder32.dll: $(pwd)/build/x86/bin/quirebinder32.dll"
echo "quirebinder64.dll: $(pwd)/build/x64/bin/quirebinder64.dll"
