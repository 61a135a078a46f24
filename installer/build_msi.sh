#!/bin/sh
# Builds the installer package: make_wxs writes the WiX source from the
# registration table, wixl builds the package, and msibuild adds the
# component conditions of the shared slots, which wixl cannot express.
#
#   build_msi.sh MAKE_WXS VERSION MODULE64 MODULE32 HOST STAGE_DIR OUT.msi
#
# STAGE_DIR keeps what the package test reads: the packed files, the
# package (package.msi) and the values it must write (expected.txt).
set -eu
make_wxs=$1 version=$2 module64=$3 module32=$4 host=$5 stage=$6 msi=$7

rm -rf "$stage"
mkdir -p "$stage"
cp "$module64" "$module32" "$host" "$stage/"
"$make_wxs" wxs "$version" quirebinder64.dll quirebinder32.dll quirebinder.exe >"$stage/quirebinder.wxs"
"$make_wxs" expect >"$stage/expected.txt"
# wixl finds the files named in the source relative to the current folder.
(cd "$stage" && wixl -a x64 -o package.msi quirebinder.wxs)
"$make_wxs" conditions | while IFS= read -r query; do
    msibuild "$stage/package.msi" -q "$query"
done
cp "$stage/package.msi" "$msi"
