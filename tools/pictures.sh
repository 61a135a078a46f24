#!/bin/sh
# Regenerates the pictures of docs/pictures that the README shows: the
# preview pane (wide, tall, and a wide pane with its narrower text column,
# on a book whose table of contents comes first), the MOBI tab, and a few
# thumbnails. The preview and tab pictures are the captures the test run
# takes (tests/preview, tests/propertypage); the thumbnails are written by
# quirebinder thumbnail. Run after ./tools/build.sh or ./tools/test.sh.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target test_preview test_propertypage qb_host_wine

export WINEPREFIX="$(pwd)/build/x64/wineprefix"
display=:$(( ($$ % 400) + 900 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"
build/x64/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 </dev/null || true

shots=build/x64/screenshots
rm -rf "$shots"
ctest --preset x64 -R 'PreviewCaptures|PageScreenshots' >/dev/null

out=docs/pictures
mkdir -p "$out"
for name in preview-cover-wide preview-cover-tall preview-contents-first-widest \
            preview-chinese-wide page-valid-book-with-cover; do
    cp "$shots/$name.png" "$out/$name.png"
done
host=build/x64/host-wine
for book in cafe-noir wagahai kf8-only small-cover; do
    file=$(ls tests/data/books/$book.* | head -n 1)
    build/x64/wine-run.sh "$host/quirebinder.exe" thumbnail "$file" --size 128 \
        -o "$out/thumbnail-$book.png" --dll "$host/quirebinder64.dll" </dev/null >/dev/null
done
ls "$out"
