#!/bin/sh
# Regenerates the pictures of docs/pictures that the README shows: the
# preview pane (wide, tall, and a wide pane with its narrower text column,
# on a book whose table of contents comes first), the MOBI tab, and a few
# thumbnails, and the tab and the pane in German, Arabic and Japanese. The
# preview and tab pictures are the captures the test run takes
# (tests/preview, tests/propertypage) and quirebinder preview's; the
# thumbnails are written by quirebinder thumbnail. Run after
# ./tools/build.sh or ./tools/test.sh.
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target test_preview test_propertypage qb_host_wine

export WINEPREFIX="$(pwd)/build/x64/wineprefix"
display=:$(( ($$ % 400) + 900 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
test_prefix="$WINEPREFIX"
cleanup() {
    WINEPREFIX="$test_prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
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

# The MOBI tab and the preview pane in German, Arabic and Japanese. Wine
# takes the user interface's language from the Unix locale (made here with
# localedef, in build/locales), and rewrites its font links when the
# locale's code page changes: so a prefix of their own, whose links to the
# fonts of the scripts are put back after each change.
locales=build/locales
mkdir -p "$locales"
pictures_prefix="$(pwd)/build/x64/pictures-prefix"
WINEPREFIX="$pictures_prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
export WINEPREFIX="$pictures_prefix" WINEDEBUG=-all HOME="$(pwd)/build/x64/winehome"
export WINEDLLOVERRIDES="propsys=n;mscoree,mshtml=;winemenubuilder.exe=d" LOCPATH="$(pwd)/$locales"
wine=/usr/lib/wine/wine64
if [ ! -d "$pictures_prefix" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8 $wine wineboot -i >/dev/null 2>&1 || true
    $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
for language in de_DE ar_SA ja_JP; do
    [ -d "$locales/$language.UTF-8" ] || localedef -i "$language" -f UTF-8 "$locales/$language.UTF-8"
    export LC_ALL="$language.UTF-8" LANG="$language.UTF-8"
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    tag=${language%_*}
    # A first program that draws text makes Wine rewrite the links.
    $wine "$host/quirebinder.exe" preview tests/data/books/cafe-noir.mobi --size 64x36 \
        -o "$shots/links-$tag.png" --dll "$host/quirebinder64.dll" </dev/null >/dev/null
    for face in Tahoma 'MS Shell Dlg 2' 'MS Shell Dlg'; do
        $wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /f /d \
            'wqy-microhei.ttc,WenQuanYi Micro Hei\0NotoSansArabicUI-Regular.ttf,Noto Sans Arabic UI\0NotoSansThaiUI-Regular.ttf,Noto Sans Thai UI\0DejaVuSans.ttf,DejaVu Sans' \
            </dev/null >/dev/null 2>&1
    done
    # Wine's Tahoma, which the dialog font stands for, has no Arabic, and a
    # static control's text is shaped with its own font alone (Windows'
    # Tahoma has Arabic): the Arabic tab is drawn in a face that has both.
    shell_font=Tahoma
    [ "$tag" != ar ] || shell_font='DejaVu Sans'
    $wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v 'MS Shell Dlg 2' /d "$shell_font" /f </dev/null >/dev/null 2>&1
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    $wine "$host/quirebinder.exe" preview tests/data/books/cafe-noir.mobi --size 640x360 \
        -o "$out/preview-$tag.png" --dll "$host/quirebinder64.dll" </dev/null >/dev/null
    $wine build/x64/bin/test_propertypage.exe --gtest_filter='PageScreenshots.*' </dev/null >/dev/null
    cp "$shots/page-valid-book-with-cover.png" "$out/page-$tag.png"
done
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
ls "$out"
