#!/bin/sh
# Exits 0 when this machine runs 32-bit Windows programs: the 32-bit Wine
# loader is installed and, itself a 32-bit program, starts. Else prints why
# not and exits 1 when the machine cannot (no loader, or a kernel that does
# not run 32-bit code), 2 when the kernel runs the loader but it fails.
loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
    echo "$loader is missing (Debian's wine32, i386)"
    exit 1
fi
status=0
version=$("$loader" --version 2>&1) || status=$?
[ "$status" -ne 0 ] || exit 0
# A kernel without 32-bit support refuses the program itself (ENOEXEC).
if ! python3 -c 'import subprocess, sys
try: subprocess.run([sys.argv[1], "--version"], capture_output=True)
except OSError as e: sys.exit(e.errno == 8)' "$loader"; then
    echo "this kernel does not run 32-bit programs ($loader: Exec format error)"
    exit 1
fi
echo "$loader does not start (exit status $status)${version:+: }$version" | head -n 1
exit 2
