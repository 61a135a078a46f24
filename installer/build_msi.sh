#!/bin/sh
# Builds an installer package: make_wxs writes the WiX source from the
# registration table, wixl builds the package, and msibuild applies what
# wixl cannot express (make_wxs tables: the removal, with the package, of
# the key where the slots another program holds point).
#
#   build_msi.sh MAKE_WXS x64 VERSION STAGE_DIR OUT.msi MODULE64 MODULE32 HOST
#   build_msi.sh MAKE_WXS x86 VERSION STAGE_DIR OUT.msi MODULE32 HOST
#
# STAGE_DIR keeps what the package test reads: the packed files, the
# package (package.msi), its source (quirebinder.wxs, tables.sql), from
# which the test builds a newer version, the values it must write
# (expected.txt) and the package's machine (machine.txt).
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
(cd "$stage" && wixl -a "$machine" -o package.msi quirebinder.wxs)
while IFS= read -r query; do
    msibuild "$stage/package.msi" -q "$query"
done <"$stage/tables.sql"
cp "$stage/package.msi" "$msi"
