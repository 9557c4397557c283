#!/usr/bin/python3
"""Renders the program's icon from its drawing into a Windows icon file (.ico), the same bytes on
every run.

  render_icon.py DRAWING.icon ICON.ico SIZE:BITS...

Each SIZE:BITS is one image of the icon: SIZE a whole multiple of the drawing's 16 pixels, scaled
pixel for pixel; BITS 4 (the 16 colours of the drawing's palette, which a Pocket PC's shell shows) or
32 (colour and alpha, as Windows Explorer shows its larger icons). A drawing or size it cannot render
truthfully is refused, naming it.
"""
import re
import struct
import sys

DRAWN = 16
# The 16-colour VGA palette, as (red, green, blue): the colours a 4-bit icon may use.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
TRANSPARENT = "."
BITMAPINFOHEADER = "<IiiHHIIiiII"


class Refusal(Exception):
    pass


def read_drawing(path):
    """The drawing's rows of palette indexes, None where transparent; lines starting # are comments."""
    with open(path, encoding="ascii") as lines:
        rows = [line.rstrip("\n") for line in lines if not line.startswith("#")]
    if len(rows) != DRAWN or any(not re.fullmatch(rf"[0-9A-F{re.escape(TRANSPARENT)}]{{{DRAWN}}}", r) for r in rows):
        raise Refusal(f"{path} is not {DRAWN} rows of {DRAWN} pixels, each {TRANSPARENT} or a hexadecimal digit")
    return [[None if c == TRANSPARENT else int(c, 16) for c in row] for row in rows]


def rows_of(bits, width):
    """A bitmap row's length: bits per pixel times the width, padded to 4 bytes."""
    return (bits * width + 31) // 32 * 4


def image(drawing, size, bits):
    """One icon image, as an .ico holds it: the header, the palette, the colours, the mask; rows from
    the bottom."""
    scale = size // DRAWN
    pixels = [[drawing[y // scale][x // scale] for x in range(size)] for y in reversed(range(size))]
    colours, mask = b"", b""
    for row in pixels:
        if bits == 4:
            line = bytes((row[x] or 0) << 4 | (row[x + 1] or 0) for x in range(0, size, 2))
        else:
            line = b"".join(bytes((*reversed(PALETTE[p or 0]), 0 if p is None else 255)) for p in row)
        colours += line.ljust(rows_of(bits, size), b"\0")
        mask_bits = int("".join("1" if p is None else "0" for p in row), 2)
        mask += mask_bits.to_bytes(size // 8, "big").ljust(rows_of(1, size), b"\0")
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE) if bits == 4 else b""
    header = struct.pack(BITMAPINFOHEADER, 40, size, 2 * size, 1, bits, 0, len(colours) + len(mask), 0, 0,
                         len(PALETTE) if bits == 4 else 0, 0)
    return header + palette + colours + mask


def render(drawing, formats):
    """The .ico: its directory, an entry per image (its size, colour count, bits, length, offset), then
    the images."""
    images = []
    for text in formats:
        match = re.fullmatch(r"(\d+):(4|32)", text)
        if not match or int(match.group(1)) % DRAWN or not 0 < int(match.group(1)) < 256:
            raise Refusal(f"{text} is not SIZE:BITS, SIZE a multiple of {DRAWN} below 256, BITS 4 or 32")
        images.append((int(match.group(1)), int(match.group(2))))
    data, entries = [image(drawing, size, bits) for size, bits in images], b""
    offset = 6 + 16 * len(images)
    for (size, bits), bitmap in zip(images, data):
        entries += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(bitmap), offset)
        offset += len(bitmap)
    return struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(data)


def main(args):
    if len(args) < 3:
        sys.exit(__doc__)
    try:
        icon = render(read_drawing(args[0]), args[2:])
    except Refusal as refusal:
        sys.exit(f"render_icon: {refusal}")
    with open(args[1], "wb") as out:
        out.write(icon)


if __name__ == "__main__":
    main(sys.argv[1:])
