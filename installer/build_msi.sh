#!/bin/sh
# Builds an installer package: make_wxs writes the WiX source from the
# registration table, wixl builds the package, and msibuild applies what
# wixl cannot express (make_wxs tables: the removal, with the package, of
# the key where the slots another program holds point; the summary's
# platform, as wixl builds an x64 package for arm64, and the package code).
# The licences (LICENSE as LICENSE.txt, THIRD-PARTY-NOTICES.txt) are
# installed beside the modules.
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
#
# The package is reproducible: the packed files' dates and the summary's
# are SOURCE_DATE_EPOCH (or the commit's date; wixl reads the clock, so it
# runs under faketime); the product code is derived from the WiX source
# (version, machine, files and registration), the package code from the
# source and the packed files' bytes.
set -eu
make_wxs=$1 machine=$2 version=$3 stage=$4 msi=$5
shift 5
root=$(cd "$(dirname "$0")/.." && pwd)
# Cabinets keep DOS dates, which start in 1980.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}

rm -rf "$stage"
mkdir -p "$stage"
names=""
for file in "$@" "$root/LICENSE" "$root/THIRD-PARTY-NOTICES.txt"; do
    name=$(basename "$file")
    [ "$name" != LICENSE ] || name=LICENSE.txt
    cp "$file" "$stage/$name"
    names="$names $name"
done
cp "$root/resources/quirebinder.ico" "$stage/"
# shellcheck disable=SC2086
"$make_wxs" wxs "$machine" "$version" $names >"$stage/quirebinder.wxs"
"$make_wxs" expect "$machine" >"$stage/expected.txt"
"$make_wxs" tables "$machine" >"$stage/tables.sql"
echo "$machine" >"$stage/machine.txt"
# wixl finds the files named in the source relative to the current folder.
# An Arm64 package is an x64 one whose summary names the Arm64 platform
# (Template); wixl already gives it schema 500 from InstallerVersion.
arch=$machine template="x64;1033"
[ "$machine" = x86 ] && template="Intel;1033"
[ "$machine" = arm64 ] && arch=x64 template="Arm64;1033"
{
    echo 'set -eu && cd "$(dirname "$0")"'
    echo "files='$names' epoch=$epoch"
    cat <<'EOF'
# A name-based UUID of what the standard input holds.
uuid() { sha256sum | sed -E 's/^(.{8})(.{4}).(.{3}).(.{3})(.{12}).*/{\1-\2-5\3-8\4-\5}/' | tr a-f A-F; }
product=$( { echo product; cat quirebinder.wxs; } | uuid)
# shellcheck disable=SC2086
package=$( { echo package; cat quirebinder.wxs tables.sql $files; } | uuid)
# shellcheck disable=SC2086
size=$(( ($(cat $files | wc -c) + 1023) / 1024 ))
# shellcheck disable=SC2086
touch -d "@$epoch" $files quirebinder.ico
at() { TZ=UTC faketime -f "$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" "$@"; }
rm -f package.msi
EOF
    echo "at wixl -a $arch -D ProductCode=\"\$product\" -D ArpSize=\"\$size\" -o package.msi quirebinder.wxs"
    echo 'while IFS= read -r query; do at msibuild package.msi -q "$query"; done <tables.sql'
    echo "at msibuild package.msi -s Quirebinder 'The Quirebinder developers' '$template' \"\$package\""
} >"$stage/package.sh"
sh "$stage/package.sh"
cp "$stage/package.msi" "$msi"
