#!/usr/bin/env python3
"""Draws the settings program's icon (five sizes in one .ico) and the About box logo (.bmp).

Usage: make_images.py OUTPUT_DIR

The pictures are simple and made of code, so the repository holds no image files: the icon is
a blue rounded square with a white upward flick, the logo a maker's word mark in 256 colours.
"""
import struct
import sys
from pathlib import Path

BLUE = (0xD8, 0x5B, 0x2B)  # B, G, R
WHITE = (0xFF, 0xFF, 0xFF)

# Icon sizes and bit depths, in the order the group lists them.
ICON_SIZES = [(32, 24), (16, 24), (64, 32), (43, 32), (21, 32)]


def icon_pixel(x, y, n):
    """The icon's colour at (x, y) of an n-by-n image, y from the top, and its coverage."""
    r = n * 0.2
    cx = min(max(x + 0.5, r), n - r)
    cy = min(max(y + 0.5, r), n - r)
    inside = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r
    if not inside:
        return None
    # A flick: a thick diagonal stroke from the lower left to the upper right.
    u, v = (x + 0.5) / n, (y + 0.5) / n
    on_stroke = abs((1 - v) - u) < 0.09 and 0.22 < u < 0.78
    return WHITE if on_stroke else BLUE


def icon_image(n, bits):
    """One icon image: BITMAPINFOHEADER (double height), XOR pixels bottom-up, AND mask."""
    row_bytes = ((n * bits // 8) + 3) & ~3
    mask_row = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(n - 1, -1, -1):
        row = bytearray()
        mrow = bytearray(mask_row)
        for x in range(n):
            c = icon_pixel(x, y, n)
            if c is None:
                row += bytes((0, 0, 0) if bits == 24 else (0, 0, 0, 0))
                mrow[x // 8] |= 0x80 >> (x % 8)
            else:
                row += bytes(c) if bits == 24 else bytes(c + (0xFF,))
        row += bytes(row_bytes - len(row))
        xor += row
        mask += mrow
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, bits, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def write_icon(path):
    images = [icon_image(n, bits) for n, bits in ICON_SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (n, bits), data in zip(ICON_SIZES, images):
        side = n if n < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    path.write_bytes(bytes(out))


# A 5-by-7 font for the logo's letters.
GLYPHS = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
}


def write_logo(path, width=92, height=21):
    """An 8-bit logo: the word QUOB in white on a blue band, 2-pixel letters."""
    palette = bytearray()
    for i in range(256):
        palette += bytes((0, 0, 0, 0))
    palette[0:4] = bytes(BLUE + (0,))
    palette[4:8] = bytes(WHITE + (0,))
    scale, gap = 3, 3
    text_width = 4 * 5 * scale + 3 * gap
    left, top = (width - text_width) // 2, (height - 7 * scale) // 2
    row_bytes = (width + 3) & ~3
    pixels = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(row_bytes)
        for x in range(width):
            gx, gy = x - left, y - top
            if gy < 0 or gy >= 7 * scale or gx < 0:
                continue
            letter, within = divmod(gx, 5 * scale + gap)
            if letter >= 4 or within >= 5 * scale:
                continue
            if GLYPHS["QUOB"[letter]][gy // scale][within // scale] == "1":
                row[x] = 1
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(palette)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    path.write_bytes(file_header + info + bytes(palette) + bytes(pixels))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    write_icon(out / "Corvane.ico")
    write_logo(out / "Logo.bmp")


if __name__ == "__main__":
    main()
