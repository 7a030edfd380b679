#!/usr/bin/env python3
"""Turns a 32 x 32 text pixel map into a 4-bit uncompressed .bmp with the standard
16-colour palette: python3 make_bitmaps.py MAP.txt OUT.bmp [MAP.txt OUT.bmp ...]

A map holds 32 lines of 32 characters, top row first; lines starting with '#' are
comments. Each character names one palette entry (see LEGEND)."""
import struct
import sys

SIZE = 32
BITS_PER_PIXEL = 4

# The standard 16-colour palette, in palette order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

LEGEND = {
    'K': 0,   # black
    'r': 1,   # dark red
    'g': 2,   # dark green
    'o': 3,   # olive
    'n': 4,   # navy
    'p': 5,   # purple
    't': 6,   # teal
    's': 7,   # silver
    'd': 8,   # grey
    'R': 9,   # red
    'G': 10,  # green
    'Y': 11,  # yellow
    'B': 12,  # blue
    'M': 13,  # magenta
    'C': 14,  # cyan
    'W': 15,  # white
    '.': 15,  # background, white
}


def read_map(path):
    with open(path, encoding='ascii') as f:
        rows = [line.rstrip('\n') for line in f if not line.startswith('#')]
    while rows and rows[-1] == '':
        rows.pop()
    if len(rows) != SIZE:
        raise ValueError(f'{path}: {len(rows)} rows, expected {SIZE}')
    pixels = []
    for number, row in enumerate(rows, 1):
        if len(row) != SIZE:
            raise ValueError(f'{path}: row {number} has {len(row)} pixels, expected {SIZE}')
        unknown = sorted(set(row) - LEGEND.keys())
        if unknown:
            raise ValueError(f'{path}: row {number}: unknown pixel characters {unknown}')
        pixels.append([LEGEND[c] for c in row])
    return pixels


def encode_bmp(pixels):
    row_bytes = (SIZE * BITS_PER_PIXEL + 31) // 32 * 4
    image = bytearray()
    for row in reversed(pixels):        # bottom-up rows, as a positive height says
        packed = bytearray((row[i] << 4) | row[i + 1] for i in range(0, SIZE, 2))
        image += packed + bytes(row_bytes - len(packed))
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE, 1, BITS_PER_PIXEL, 0, len(image),
                       0, 0, len(PALETTE), 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(image), 0, 0, offset)
    return header + info + palette + bytes(image)


def main(args):
    if not args or len(args) % 2:
        print(__doc__, file=sys.stderr)
        return 2
    for source, target in zip(args[0::2], args[1::2]):
        try:
            data = encode_bmp(read_map(source))
        except (OSError, ValueError) as error:
            print(f'make_bitmaps: {error}', file=sys.stderr)
            return 1
        with open(target, 'wb') as f:
            f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
