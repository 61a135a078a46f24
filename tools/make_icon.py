#!/usr/bin/env python3
"""Writes resources/quirebinder.ico, the packages' icon in Apps & Features:
a closed book seen from the front, at 16, 32 and 48 pixels (32-bit BGRA
bitmaps with their masks): a dark red cover with a darker spine on the
left, the cream edge of its pages along the right and bottom, and a gold
label on the cover.

    python3 tools/make_icon.py            # writes the file
    python3 tools/make_icon.py --check    # fails if it differs
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGET = os.path.join(ROOT, "resources", "quirebinder.ico")
SIZES = (16, 32, 48)
CLEAR, COVER, SPINE, PAGES, LABEL = (0, 0, 0, 0), (40, 30, 150, 255), (
    25, 18, 100, 255), (215, 240, 250, 255), (60, 190, 230, 255)  # BGRA


def pixel(x, y, n):
    """The colour at (x, y), y from the top, of the n-pixel icon."""
    u, v = x / n, y / n
    if not (0.12 <= u < 0.88 and 0.06 <= v < 0.94):
        return CLEAR
    if u >= 0.80 or v >= 0.86:
        return PAGES
    if u < 0.24:
        return SPINE
    if 0.36 <= u < 0.70 and 0.22 <= v < 0.36:
        return LABEL
    return COVER


def image(n):
    rows = [b"".join(bytes(pixel(x, y, n)) for x in range(n)) for y in range(n)]
    mask_row = (n + 31) // 32 * 4
    masks = []
    for y in range(n):
        bits = 0
        for x in range(n):
            if pixel(x, y, n)[3] == 0:
                bits |= 1 << (mask_row * 8 - 1 - x)
        masks.append(bits.to_bytes(mask_row, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(reversed(rows)) + b"".join(reversed(masks))


def icon():
    images = [image(n) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main(args):
    data = icon()
    if args == ["--check"]:
        with open(TARGET, "rb") as f:
            if f.read() != data:
                print(f"{TARGET} differs from what tools/make_icon.py writes", file=sys.stderr)
                return 1
        return 0
    with open(TARGET, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
