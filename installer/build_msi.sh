#!/bin/sh
# Builds the installer package: make_wxs writes the WiX source from the
# registration table, wixl builds the package, and msibuild applies what
# wixl cannot express (make_wxs tables: the removal, with the package, of
# the key where the slots another program holds point).
#
#   build_msi.sh MAKE_WXS VERSION MODULE64 MODULE32 HOST STAGE_DIR OUT.msi
#
# STAGE_DIR keeps what the package test reads: the packed files, the
# package (package.msi), its source (quirebinder.wxs, tables.sql), from
# which the test builds a newer version, and the values it must write
# (expected.txt).
set -eu
make_wxs=$1 version=$2 module64=$3 module32=$4 host=$5 stage=$6 msi=$7

rm -rf "$stage"
mkdir -p "$stage"
cp "$module64" "$module32" "$host" "$stage/"
"$make_wxs" wxs "$version" quirebinder64.dll quirebinder32.dll quirebinder.exe >"$stage/quirebinder.wxs"
"$make_wxs" expect >"$stage/expected.txt"
"$make_wxs" tables >"$stage/tables.sql"
# wixl finds the files named in the source relative to the current folder.
(cd "$stage" && wixl -a x64 -o package.msi quirebinder.wxs)
while IFS= read -r query; do
    msibuild "$stage/package.msi" -q "$query"
done <"$stage/tables.sql"
cp "$stage/package.msi" "$msi"
