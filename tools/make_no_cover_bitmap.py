#!/usr/bin/env python3
"""Writes resources/no_cover.bmp, the picture the MOBI page shows for a book
without a cover: 48 x 64 pixels, 4 bits per pixel, RLE4-compressed, a palette
of six greys from black to white; a white card with a one-pixel black frame,
a light grey inner edge and the words NO and COVER in black capitals (with a
grey shadow) on two lines in its middle.

    python3 tools/make_no_cover_bitmap.py            # writes the file
    python3 tools/make_no_cover_bitmap.py --check    # fails if it differs
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGET = os.path.join(ROOT, "resources", "no_cover.bmp")
WIDTH, HEIGHT = 48, 64
GREYS = [0, 51, 102, 153, 204, 255]
BLACK, DARK, MID, GREY, LIGHT, WHITE = range(6)

# 5 x 7 capitals, one string per row, '#' set.
GLYPHS = {
    "N": ["#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
}


def picture():
    """Rows top to bottom of palette indices."""
    rows = [[WHITE] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if x in (0, WIDTH - 1) or y in (0, HEIGHT - 1):
                rows[y][x] = BLACK
            elif x in (1, WIDTH - 2) or y in (1, HEIGHT - 2):
                rows[y][x] = LIGHT

    def word(text, top):
        advance = 6
        left = (WIDTH - (len(text) * advance - 1)) // 2
        for i, letter in enumerate(text):
            for dy, line in enumerate(GLYPHS[letter]):
                for dx, cell in enumerate(line):
                    if cell == "#":
                        x, y = left + i * advance + dx, top + dy
                        if rows[y + 1][x + 1] == WHITE:
                            rows[y + 1][x + 1] = GREY
                        rows[y][x] = BLACK

    word("NO", 22)
    word("COVER", 34)
    return rows


def rle4(rows):
    """Encoded runs only (count, two equal nibbles), each row ended by 0 0,
    the bitmap by 0 1; rows bottom-up as a BMP stores them."""
    out = bytearray()
    for row in reversed(rows):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and row[x + run] == row[x] and run < 255:
                run += 1
            out += bytes([run, row[x] << 4 | row[x]])
            x += run
        out += b"\0\0"
    out += b"\0\1"
    return bytes(out)


def bitmap():
    bits = rle4(picture())
    palette = b"".join(bytes([g, g, g, 0]) for g in GREYS)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 2, len(bits), 2835, 2835,
                       len(GREYS), len(GREYS))
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + info + palette + bits


def main(args):
    data = bitmap()
    if args == ["--check"]:
        with open(TARGET, "rb") as existing:
            if existing.read() != data:
                print("%s differs from what %s makes" % (TARGET, sys.argv[0]))
                return 1
        return 0
    with open(TARGET, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
