#!/usr/bin/env python3
"""Packs PNG pictures into one Windows .ico (PNG-compressed entries, Windows Vista and later).

    png_to_ico.py OUT.ico IN.png...
"""
import os
import struct
import sys


def png_size(data: bytes) -> tuple[int, int]:
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise SystemExit("not a PNG")
    return struct.unpack(">II", data[16:24])


def main() -> None:
    out, pictures = sys.argv[1], [open(p, "rb").read() for p in sys.argv[2:]]
    pictures.sort(key=lambda d: png_size(d)[0])
    header = struct.pack("<HHH", 0, 1, len(pictures))
    offset = len(header) + 16 * len(pictures)
    entries, bodies = b"", b""
    for data in pictures:
        width, height = png_size(data)
        # 256 is written as 0 in the one-byte fields.
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        bodies += data
        offset += len(data)
    with open(out + ".tmp", "wb") as f:
        f.write(header + entries + bodies)
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
