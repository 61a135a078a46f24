#!/bin/sh
# Builds an installer package: make_wxs writes the WiX source from the
# registration table, wixl builds the package, and msibuild applies what
# wixl cannot express (make_wxs tables: the removal, with the package, of
# the key where the slots another program holds point; for arm64 the
# summary's platform, as wixl builds an x64 package).
#
#   build_msi.sh MAKE_WXS x64 VERSION STAGE_DIR OUT.msi MODULE64 MODULE32 HOST
#   build_msi.sh MAKE_WXS x86 VERSION STAGE_DIR OUT.msi MODULE32 HOST
#   build_msi.sh MAKE_WXS arm64 VERSION STAGE_DIR OUT.msi MODULEARM64 MODULE32 HOST
#
# STAGE_DIR keeps what the package test reads: the packed files, the
# package (package.msi), its source (quirebinder.wxs, tables.sql) and the
# commands that build it from there (package.sh), with which the test
# builds a newer version, the values it must write (expected.txt) and the
# package's machine (machine.txt).
set -eu
make_wxs=$1 machine=$2 version=$3 stage=$4 msi=$5
shift 5

rm -rf "$stage"
mkdir -p "$stage"
names=""
for file in "$@"; do
    cp "$file" "$stage/"
    names="$names $(basename "$file")"
done
# shellcheck disable=SC2086
"$make_wxs" wxs "$machine" "$version" $names >"$stage/quirebinder.wxs"
"$make_wxs" expect "$machine" >"$stage/expected.txt"
"$make_wxs" tables "$machine" >"$stage/tables.sql"
echo "$machine" >"$stage/machine.txt"
# wixl finds the files named in the source relative to the current folder.
# An Arm64 package is an x64 one whose summary names the Arm64 platform
# (Template); wixl already gives it schema 500 from InstallerVersion.
arch=$machine
[ "$machine" = arm64 ] && arch=x64
{
    echo 'set -eu && cd "$(dirname "$0")"'
    echo "wixl -a $arch -o package.msi quirebinder.wxs"
    echo 'while IFS= read -r query; do msibuild package.msi -q "$query"; done <tables.sql'
    if [ "$machine" = arm64 ]; then
        echo 'msibuild package.msi -s Quirebinder Quirebinder "Arm64;1033"'
    fi
} >"$stage/package.sh"
sh "$stage/package.sh"
cp "$stage/package.msi" "$msi"
