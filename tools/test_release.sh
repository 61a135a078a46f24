#!/bin/sh
# The test command's release checks (docs/release.md), after the builds of
# every lane: a release of this tree's builds (tools/release.sh --here),
# checked by tools/test_release.py; the modules and hosts import only what
# the oldest Windows they claim has (tools/check_imports.py); the x64 module built again from a copy of the tree in
# another folder, and the x64 package built again a second later in
# another folder, must be the same bytes; a release signed with a
# throwaway self-signed certificate must verify, its packages' file hashes
# must be the signed files', and the signed host and module must still
# make a thumbnail under Wine (the x64 prefix of the test command).
#
#   tools/test_release.sh [--no-arm64]
set -eu
cd "$(dirname "$0")/.."
out=$(pwd)/build/release-test
start=$(date +%s)
url=https://downloads.example.org/quirebinder
rm -rf "$out" && mkdir -p "$out"

modules="build/x64/bin/quirebinder64.dll build/x64/bin/quirebinder.exe
build/x86/bin/quirebinder32.dll build/x86/bin/quirebinder.exe"
[ "${1:-}" = --no-arm64 ] ||
    modules="$modules build/arm64/bin/quirebinderarm64.dll build/arm64/bin/quirebinder.exe"
# shellcheck disable=SC2086
python3 tools/check_imports.py $modules

./tools/release.sh --here --dirty "$@" --url "$url" --out "$out/unsigned" >"$out/unsigned.txt"
release=$(ls -d "$out"/unsigned/quirebinder-*)
python3 tools/test_release.py "$release" "$url"

# The same package built again, later, in another folder.
cp -r build/release/stage/package-x64 "$out/package-again"
sleep 1
sh "$out/package-again/package.sh"
cmp "$out/package-again/package.msi" "$release/$(basename "$release")-x64.msi"

# The x64 module built again from the tree's tracked files, in another
# folder.
snapshot=$(git stash create)
mkdir -p "$out/copy"
git archive "${snapshot:-HEAD}" | tar -x -C "$out/copy"
(cd "$out/copy" && cmake --preset x64 -DBUILD_TESTING=OFF >/dev/null &&
    cmake --build --preset x64 --target quirebinder >"$out/copy.txt")
cmp "$out/copy/build/x64/bin/quirebinder64.dll" build/x64/bin/quirebinder64.dll
echo "reproducible: the x64 module from another folder, the x64 package a second later"

# Signed with a throwaway certificate.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Quirebinder test" -days 2 \
    -addext "extendedKeyUsage=codeSigning" -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$out/key.pem" -in "$out/cert.pem" -passout pass:throwaway \
    -out "$out/sign.pfx"
QB_SIGN_PFX=$out/sign.pfx QB_SIGN_PASSWORD=throwaway \
    ./tools/release.sh --here --dirty "$@" --url "$url" --out "$out/signed" >"$out/signed.txt"
signed=$(ls -d "$out"/signed/quirebinder-*)
python3 tools/test_release.py "$signed" "$url" --signed "$out/cert.pem"
name=$(basename "$signed")-x64
(cd "$out" && python3 -m zipfile -e "$signed/$name.zip" .)
rm -f "$out/cover.png"
# Wine's own property system, as an installed host has it (no stand-in).
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
    build/x64/wine-run.sh "$out/$name/quirebinder.exe" thumbnail tests/data/books/cafe-noir.mobi \
        -o "$out/cover.png" --dll "$out/$name/quirebinder64.dll" </dev/null
[ -s "$out/cover.png" ]
said=$(build/x64/wine-run.sh "$out/$name/quirebinder.exe" --version </dev/null | tr -d '\r')
version=$(basename "$signed")
[ "$said" = "quirebinder ${version#quirebinder-}" ] || {
    echo "quirebinder --version says \"$said\"" >&2
    exit 1
}
echo "signed: the x64 host and module make a thumbnail under Wine; the host says its version"
echo "release checks: passed in $(( $(date +%s) - start )) s"
