#!/bin/sh
# Exits 0 when this machine runs 32-bit Windows programs: the 32-bit Wine
# loader is installed and, itself a 32-bit program, starts. Else prints why
# not and exits 1.
loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
    echo "$loader is missing (Debian's wine32, i386)"
    exit 1
fi
status=0
version=$("$loader" --version 2>&1) || status=$?
if [ "$status" -ne 0 ]; then
    echo "$loader does not start (exit status $status), so 32-bit programs do not run here${version:+: }$version" |
        head -n 1
    exit 1
fi
exit 0
