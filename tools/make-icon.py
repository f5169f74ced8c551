#!/usr/bin/env python3
"""Draws the launcher's icon (a chip with a downward arrow) at six sizes and
writes them as one .ico file: 16, 24, 32, 48 and 64 pixels as 32-bit BMP
images, 256 pixels as PNG, as Windows expects."""
import struct
import sys
import zlib


def pixel(x, y, n):
    """RGBA of the pixel at (x, y) of an n-by-n icon, y counted from the top."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    # Chip body with pins left and right.
    if 0.22 <= u <= 0.78 and 0.18 <= v <= 0.82:
        # Arrow: shaft and head, light on the dark body.
        if 0.44 <= u <= 0.56 and 0.28 <= v <= 0.56:
            return (255, 210, 60, 255)
        if 0.56 <= v <= 0.74 and abs(u - 0.5) <= (0.74 - v) * 1.1:
            return (255, 210, 60, 255)
        return (30, 60, 110, 255)
    for k in range(4):
        top = 0.24 + k * 0.15
        if top <= v <= top + 0.07 and (0.10 <= u < 0.22 or 0.78 < u <= 0.90):
            return (190, 190, 200, 255)
    return (0, 0, 0, 0)


def bmp_image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up
        row = b"".join(struct.pack("<BBBB", b, g, r, a) for (r, g, b, a) in (pixel(x, y, n) for x in range(n)))
        rows.append(row)
    mask_row = (((n + 31) // 32) * 4)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (mask_row * n)


def png_image(n):
    raw = b"".join(b"\0" + b"".join(struct.pack("BBBB", *pixel(x, y, n)) for x in range(n)) for y in range(n))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    sizes = [16, 24, 32, 48, 64, 256]
    images = [png_image(n) if n == 256 else bmp_image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kstgate.ico")
