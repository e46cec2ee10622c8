#!/usr/bin/env python3
"""Makes the program's Windows icon from the window icon: the 24 x 24 picture, and the same
doubled to 48 x 48 for large icon views.   scripts/bmp2ico.py image/base_icon.bmp OUT.ico"""
import struct
import sys


def read_bmp24(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    assert bits == 24, "a 24-bit picture is expected"
    stride = (width * 3 + 3) & ~3
    rows = []  # top row first
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rows.append([row[i:i + 3] for i in range(0, width * 3, 3)])
    return rows


def icon_image(rows, scale):
    size = len(rows) * scale
    pixels = bytearray()
    for y in reversed(range(size)):  # a DIB runs bottom-up
        for x in range(size):
            pixels += rows[y // scale][x // scale] + b"\xff"
    mask = bytes(((size + 31) // 32 * 4) * size)  # all opaque
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    return size, header + bytes(pixels) + mask


def main(src, dst):
    rows = read_bmp24(src)
    images = [icon_image(rows, s) for s in (1, 2)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        out += blob
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
