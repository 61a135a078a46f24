#!/usr/bin/env python3
"""Writes the small test images of tests/data/images with the standard library
only: a PNG, a two-frame GIF, and the JPEG cut out of a fixture book's cover
record.

    python3 tools/make_test_images.py
"""
import json
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = os.path.join(ROOT, "tests", "data", "images")
BOOKS = os.path.join(ROOT, "tests", "data", "books")


def png(width, height, pixel):
    """RGB PNG; pixel(x, y) gives (r, g, b)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width))
                   for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def lzw(indices, min_code_size):
    """GIF LZW code stream of palette indices, packed into data sub-blocks."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code, width = end + 1, min_code_size + 1
    codes = [(clear, width)]
    current = b""
    for index in indices:
        candidate = current + bytes([index])
        if candidate in table:
            current = candidate
            continue
        codes.append((table[current], width))
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            codes.append((clear, width))
            table = {bytes([i]): i for i in range(clear)}
            next_code, width = end + 1, min_code_size + 1
        current = bytes([index])
    codes.append((table[current], width))
    codes.append((end, width))
    bits, count, out = 0, 0, bytearray()
    for code, size in codes:
        bits |= code << count
        count += size
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return bytes([min_code_size]) + blocks + b"\0"


def gif(width, height, palette, frames):
    """Animated GIF; each frame is a list of width * height palette indices."""
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF1, 0, 0)  # 4-colour table
    data += b"".join(bytes(c) for c in palette)
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for frame in frames:
        data += b"\x21\xF9\x04\x04\x0A\x00\x00\x00"  # 0.1 s, keep the frame
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        data += lzw(frame, 2)
    return data + b"\x3B"


def main():
    os.makedirs(IMAGES, exist_ok=True)
    # 40 x 30: red left half, blue right half.
    with open(os.path.join(IMAGES, "halves-40x30.png"), "wb") as f:
        f.write(png(40, 30, lambda x, y: (255, 0, 0) if x < 20 else (0, 0, 255)))
    # 24 x 16, two frames: all green, then all red.
    palette = [(0, 0, 0), (0, 255, 0), (255, 0, 0), (255, 255, 255)]
    with open(os.path.join(IMAGES, "green-then-red-24x16.gif"), "wb") as f:
        f.write(gif(24, 16, palette, [[1] * (24 * 16), [2] * (24 * 16)]))
    # The 100 x 50 JFIF cover of small-cover.mobi.
    with open(os.path.join(BOOKS, "manifest.json"), encoding="utf-8") as f:
        cover = next(b for b in json.load(f) if b["file"] == "small-cover.mobi")["cover"]
    with open(os.path.join(BOOKS, "small-cover.mobi"), "rb") as f:
        f.seek(cover["offset"])
        jpeg = f.read(cover["size"])
    with open(os.path.join(IMAGES, "cover-100x50.jpg"), "wb") as f:
        f.write(jpeg)


if __name__ == "__main__":
    main()
