#!/usr/bin/env python3
"""Folder benchmark: `quirebinder properties --json --recursive` over a
built library of books (qb_make_library: mixed sizes, every tenth file not a
book), under Wine.

One timed run gives the books listed per second, start of the Wine process
included; it must print one object per book, an "error" one for each file
that is not a book. A second run under strace counts the bytes the process
reads from the library's files (read and pread calls on their descriptors),
over the bytes the files hold on disk. Prints folder_* key=value lines.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True, help="build/x64/wine-run.sh")
    parser.add_argument("--host", required=True, help="quirebinder.exe")
    parser.add_argument("--dll", required=True, help="the module beside it")
    parser.add_argument("--make-library", required=True, help="qb_make_library")
    parser.add_argument("--books", type=int, default=2000)
    parser.add_argument("--work", required=True, help="folder for the library and the outputs")
    args = parser.parse_args()

    library = os.path.abspath(os.path.join(args.work, "library"))
    shutil.rmtree(library, ignore_errors=True)
    os.makedirs(args.work, exist_ok=True)
    disk_bytes = int(subprocess.run([args.make_library, library, str(args.books)], check=True,
                                    capture_output=True, text=True).stdout.split()[0])
    command = [args.runner, args.host, "properties", "--json", "--recursive", windows_path(library),
               "--dll", windows_path(args.dll)]

    out_path = os.path.join(args.work, "folder.json")
    started = time.monotonic()
    with open(out_path, "wb") as out:
        run = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - started
    text = open(out_path, encoding="utf-8", errors="replace").read()
    objects = text.count('\n  "file": ')
    errors = text.count('\n  "error": ')
    if objects != args.books:
        sys.exit("folder: %d objects for %d books (exit status %d)" % (objects, args.books, run.returncode))

    read_bytes = None
    if shutil.which("strace"):
        trace = os.path.join(args.work, "folder.strace")
        subprocess.run(["strace", "-f", "-qq", "-y", "-e", "trace=read,pread64,readv,preadv,preadv2",
                        "-o", trace] + command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        # "PID read(FD</path>, ...) = N"; calls another thread interrupted
        # come as "<unfinished ...>" and "<... read resumed>" lines, which
        # carry no path and are counted through the descriptor's last path.
        call = re.compile(r"^(\d+)\s+(?:read|pread64|readv|preadv|preadv2)\((\d+)<([^>]*)>.*?(?:=\s+(\d+))?$")
        resumed = re.compile(r"^(\d+)\s+<\.\.\. \w+ resumed>.*=\s+(\d+)$")
        pending = {}
        read_bytes = 0
        with open(trace, encoding="utf-8", errors="replace") as lines:
            for line in lines:
                line = line.rstrip("\n")
                m = call.match(line)
                if m:
                    inside = m.group(3).startswith(library + "/")
                    if line.endswith("<unfinished ...>"):
                        pending[m.group(1)] = inside
                    elif inside and m.group(4):
                        read_bytes += int(m.group(4))
                    continue
                m = resumed.match(line)
                if m and pending.pop(m.group(1), False):
                    read_bytes += int(m.group(2))

    print("folder %d books (%d not books) of %d bytes listed in %.1f s, Wine's start included"
          % (args.books, errors, disk_bytes, seconds))
    print("folder_books_per_second=%.0f" % (args.books / seconds))
    if read_bytes is None:
        print("folder_bytes_read_percent=missing (no strace)")
    else:
        print("folder read %d bytes of the library's files" % read_bytes)
        print("folder_bytes_read_percent=%.3f" % (100.0 * read_bytes / disk_bytes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
