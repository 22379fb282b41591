#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the Windows resources of the console: headalign.rc (layout 103 in GBK) from the
layout table in src/app/console_layout.cpp, and headalign.ico (icon 115).
Run again after the layout table changes; the Windows tests compare the two."""
import re
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOP = HERE.parents[2]

STATEMENT = {
    "CTL_STATIC": 'LTEXT           "{t}",{id},{x},{y},{w},{h}',
    "CTL_BUTTON": 'PUSHBUTTON      "{t}",{id},{x},{y},{w},{h}',
    "CTL_CHECK": 'CONTROL         "{t}",{id},"Button",BS_AUTOCHECKBOX | WS_TABSTOP,{x},{y},{w},{h}',
    "CTL_EDIT": 'EDITTEXT        {id},{x},{y},{w},{h},ES_AUTOHSCROLL',
    "CTL_READONLY_EDIT": 'EDITTEXT        {id},{x},{y},{w},{h},ES_AUTOHSCROLL | ES_READONLY',
    "CTL_LIST": 'COMBOBOX        {id},{x},{y},{w},{h},CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP',
}


def layout():
    src = (TOP / "src/app/console_layout.cpp").read_text(encoding="utf-8")
    controls = re.findall(r'\{(\d+), (CTL_\w+), "((?:[^"\\]|\\.)*)", (\d+), (\d+), (\d+), (\d+)\}', src)
    m = re.search(r"LAYOUT\{\s*CONSOLE_LAYOUT_ID,\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+),", src)
    table = re.search(r"DialogFrame FRAMES\[\] = \{(.*?)\};", src, re.S)
    if not controls or not m or not table:
        sys.exit("layout table not found")
    frames = [tuple(int(v) for v in f) for f in re.findall(r"\{(\d+), (\d+), (\d+), (\d+)\}", table.group(1))]
    return tuple(int(v) for v in m.groups()), controls, frames


def rc_text():
    (x, y, w, h), controls, frames = layout()
    lines = [
        "// SPDX-License-Identifier: Apache-2.0",
        "// Resources of the console: dialog layout 103 and icon 115 (written by make_resources.py,",
        "// GBK text).",
        "#pragma code_page(936)",
        "#include <windows.h>",
        "",
        '115 ICON "headalign.ico"',
        "",
        f"103 DIALOGEX {x}, {y}, {w}, {h}",
        "STYLE DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX",
        'CAPTION "打印头校准工具"',
        'FONT 11, "宋体", 0, 0, 0x86',
        "BEGIN",
    ]
    for fx, fy, fw, fh in frames:
        lines.append(f'    GROUPBOX        "",-1,{fx},{fy},{fw},{fh}')
    for cid, kind, text, cx, cy, cw, ch in controls:
        text = text.replace('""', '""""')
        lines.append("    " + STATEMENT[kind].format(t=text, id=cid, x=cx, y=cy, w=cw, h=ch))
    lines.append("END")
    return "\r\n".join(lines) + "\r\n"


def icon_image(size):
    """A vernier: two rows of coloured ink bars, the lower one shifted by one bar."""
    inks = [(0x20, 0x20, 0x20), (0xE0, 0x20, 0x90), (0x00, 0xA0, 0xE0), (0xF0, 0xD0, 0x00)]
    px = [[(0xFF, 0xFF, 0xFF, 0xFF)] * size for _ in range(size)]
    bar = max(1, size // 16)
    for row in range(size):
        for col in range(size):
            if row in (0, size - 1) or col in (0, size - 1):
                px[row][col] = (0x60, 0x60, 0x60, 0xFF)
                continue
            top = row < size // 2
            shift = 0 if top else bar
            slot = (col + shift) // (bar * 2)
            if (col + shift) % (bar * 2) < bar and 2 <= row < size - 2 and row != size // 2:
                r, g, b = inks[slot % 4]
                px[row][col] = (b, g, r, 0xFF)
    return px


def ico_bytes(sizes=(16, 32, 48)):
    images = []
    for s in sizes:
        px = icon_image(s)
        header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
        xor = b"".join(bytes(p) for row in reversed(px) for p in row)
        mask_row = ((s + 31) // 32) * 4
        images.append(header + xor + bytes(mask_row * s))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b"".join(images)


if __name__ == "__main__":
    (HERE / "headalign.rc").write_bytes(rc_text().encode("gbk"))
    (HERE / "headalign.ico").write_bytes(ico_bytes())
