#!/bin/sh
# Remakes tests/data/books/plain-words.azw3, a text-only KF8 book written by
# calibre (Debian package calibre, not needed by the build or the tests).
# Books without images carry 0xFFFFFFFF as their first image index. Each run
# writes a new book identifier, so update the book's manifest entry (size,
# sha256, creation_time) after remaking it.
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/book.html" <<'HTML'
<html><head><title>Plain Words</title></head><body><h1>Plain Words</h1><p>A book of text alone, without a single picture in it.</p><p>Second paragraph.</p></body></html>
HTML
QT_QPA_PLATFORM=offscreen ebook-convert "$work/book.html" tests/data/books/plain-words.azw3 \
    --title "Plain Words" --authors "Ada Text" --language en --pubdate 2010-05-03
