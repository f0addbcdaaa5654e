#!/usr/bin/env python3
"""Writes a plain 16-bit Bayer DNG of W x H pixels (12-bit values, uncompressed): a smooth scene with noise,
for timing converters that read such frames.  Usage: make-bayer-dng.py W H OUT.dng"""
import array
import random
import struct
import sys


def main():
    width, height, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    rng = random.Random(1)
    noise = array.array('H', (rng.randrange(64) for _ in range(width + 1024)))
    pixels = bytearray()
    for y in range(height):
        level = 300 + (y * 3000) // max(height, 1)
        shift = rng.randrange(1024)
        row = array.array('H', ((level + (x * 700) // width + noise[x + shift] + (400 if (x ^ y) & 1 else 0))
                                & 0xFFF for x in range(width)))
        if sys.byteorder != 'little':
            row.byteswap()
        pixels += row.tobytes()

    entries = []  # (tag, type, count, value bytes)

    def add(tag, kind, values):
        formats = {1: 'B', 2: 's', 3: 'H', 4: 'I', 5: 'II', 10: 'ii'}
        if kind == 2:
            data = values.encode() + b'\0'
            count = len(data)
        elif kind in (5, 10):
            data = b''.join(struct.pack('<' + formats[kind], *v) for v in values)
            count = len(values)
        else:
            data = struct.pack('<%d%s' % (len(values), formats[kind]), *values)
            count = len(values)
        entries.append((tag, kind, count, data))

    matrix = [(32404542, 10000000), (-15371385, 10000000), (-4985314, 10000000),
              (-9692660, 10000000), (18760108, 10000000), (415560, 10000000),
              (556434, 10000000), (-2040259, 10000000), (10572252, 10000000)]
    header = 8
    add(254, 4, [0])
    add(256, 4, [width])
    add(257, 4, [height])
    add(258, 3, [16])
    add(259, 3, [1])
    add(262, 3, [32803])
    add(271, 2, 'Bench')
    add(272, 2, 'Bayer')
    add(273, 4, [0])  # strip offset, set below
    add(274, 3, [1])
    add(277, 3, [1])
    add(278, 4, [height])
    add(279, 4, [len(pixels)])
    add(284, 3, [1])
    add(33421, 3, [2, 2])
    add(33422, 1, [0, 1, 1, 2])
    add(50706, 1, [1, 4, 0, 0])
    add(50708, 2, 'Bench Bayer')
    add(50714, 4, [0])
    add(50717, 4, [4095])
    add(50721, 10, matrix)
    add(50778, 3, [21])
    ifd_size = 2 + 12 * len(entries) + 4
    extra_at = header + ifd_size
    extra = bytearray()
    # Values longer than four bytes go after the directory, the pixels last.
    sizes = sum((len(d) + 1) & ~1 for _, _, _, d in entries if len(d) > 4)
    strip_at = extra_at + sizes
    ifd = bytearray(struct.pack('<H', len(entries)))
    for tag, kind, count, data in entries:
        if tag == 273:
            data = struct.pack('<I', strip_at)
        if len(data) <= 4:
            ifd += struct.pack('<HHI', tag, kind, count) + data.ljust(4, b'\0')
        else:
            ifd += struct.pack('<HHII', tag, kind, count, extra_at + len(extra))
            extra += data + (b'\0' if len(data) & 1 else b'')
    ifd += struct.pack('<I', 0)
    with open(out, 'wb') as f:
        f.write(b'II*\0' + struct.pack('<I', header) + ifd + extra + pixels)


if __name__ == '__main__':
    main()
