#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the desktop icons (hicolor PNGs) from the Windows icon, so both systems show one picture.

ico_to_png.py ICON OUTDIR  ->  OUTDIR/<w>x<h>/headalign.png for each 32-bit image of ICON.
"""
import struct
import sys
import zlib
from pathlib import Path


def png(width, height, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def images(data):
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise ValueError("not an icon file")
    for i in range(count):
        _, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        entry = data[offset:offset + size]
        if entry[:8] == b"\x89PNG\r\n\x1a\n":
            width, height = struct.unpack_from(">II", entry, 16)
            yield width, height, entry
            continue
        header, width, height2, _, bpp, compression = struct.unpack_from("<IiiHHI", entry, 0)
        height = height2 // 2  # colour rows, then the AND mask
        if bpp != 32 or compression != 0:
            continue  # only the true-colour images carry their own alpha
        stride = width * 4
        rows = []
        for y in range(height - 1, -1, -1):  # bottom-up
            bgra = entry[header + y * stride:header + (y + 1) * stride]
            rows.append(b"".join(bytes((bgra[x + 2], bgra[x + 1], bgra[x], bgra[x + 3]))
                                 for x in range(0, stride, 4)))
        yield width, height, png(width, height, rows)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: ico_to_png.py ICON OUTDIR")
    out = Path(sys.argv[2])
    for width, height, data in images(Path(sys.argv[1]).read_bytes()):
        target = out / f"{width}x{height}" / "headalign.png"
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)


if __name__ == "__main__":
    main()
