#!/usr/bin/env python3
"""Turns an xwd dump (24 or 32 bits a pixel, ZPixmap, as Xvfb gives) into a PNG, optionally
cropped to a rectangle: xwd_to_png.py IN.xwd OUT.png [X Y WIDTH HEIGHT]. Prints the number of
distinct colours of the picture (a photograph has thousands, a blank window a handful)."""
import os
import struct
import sys
import zlib


def main() -> None:
    data = open(sys.argv[1], "rb").read()
    header_size, _version, pixmap_format, _depth, width, height = struct.unpack(">6I", data[:24])
    byte_order, = struct.unpack(">I", data[28:32])
    bits_per_pixel, bytes_per_line = struct.unpack(">2I", data[44:52])
    ncolors, = struct.unpack(">I", data[76:80])
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise SystemExit("xwd_to_png: only 24/32-bit ZPixmap dumps")
    pixels = data[header_size + 12 * ncolors:]
    x0, y0, w, h = (int(v) for v in sys.argv[3:7]) if len(sys.argv) > 3 else (0, 0, width, height)
    step = bits_per_pixel // 8
    rows = bytearray()
    for y in range(y0, y0 + h):
        line = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
        rows.append(0)
        for x in range(x0, x0 + w):
            p = line[x * step:x * step + 3]
            # LSBFirst (0) stores blue, green, red.
            rows += p[::-1] if byte_order == 0 else p
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body +
                                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    print(len({bytes(rows[i:i + 3]) for r in range(h) for i in range(r * (3 * w + 1) + 1, (r + 1) * (3 * w + 1), 3)}))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))
    with open(sys.argv[2] + ".tmp", "wb") as f:
        f.write(png)
    os.replace(sys.argv[2] + ".tmp", sys.argv[2])


if __name__ == "__main__":
    main()
