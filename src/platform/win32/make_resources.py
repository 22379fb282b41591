#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes what is made from the console's layout table (src/app/console_layout.cpp): the
names of its controls and commands (src/app/console_ids.h, ID_<name> = number, which every
other file uses instead of the numbers), and the Windows resources, headalign.rc (layout 103 in
GBK) and headalign.ico (icon 115).
Run again after the layout table changes: `make_resources.py --check` (a test) fails while a
written file differs from what the table makes, and the Windows tests compare the dialog built
from the resource with the table."""
import re
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOP = HERE.parents[2]
IDS_HEADER = TOP / "src/app/console_ids.h"

STATEMENT = {
    "CTL_STATIC": 'LTEXT           "{t}",{id},{x},{y},{w},{h}',
    "CTL_BUTTON": 'PUSHBUTTON      "{t}",{id},{x},{y},{w},{h}',
    "CTL_CHECK": 'CONTROL         "{t}",{id},"Button",BS_AUTOCHECKBOX | WS_TABSTOP,{x},{y},{w},{h}',
    "CTL_EDIT": 'EDITTEXT        {id},{x},{y},{w},{h},ES_AUTOHSCROLL',
    "CTL_READONLY_EDIT": 'EDITTEXT        {id},{x},{y},{w},{h},ES_AUTOHSCROLL | ES_READONLY',
    "CTL_LIST": 'COMBOBOX        {id},{x},{y},{w},{h},CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP',
}


def layout_source():
    return (TOP / "src/app/console_layout.cpp").read_text(encoding="utf-8")


def layout():
    src = layout_source()
    controls = re.findall(
        r'\{(\d+), (CTL_\w+), "((?:[^"\\]|\\.)*)", (\d+), (\d+), (\d+), (\d+), "(\w+)"\}', src)
    place = [re.search(rf"\.{f} = (\d+),", src) for f in ("x", "y", "width", "height")]
    table = re.search(r"DialogFrame FRAMES\[\] = \{(.*?)\};", src, re.S)
    if not controls or not all(place) or not table:
        sys.exit("layout table not found")
    frames = [tuple(int(v) for v in f) for f in re.findall(r"\{(\d+), (\d+), (\d+), (\d+)\}", table.group(1))]
    return tuple(int(m.group(1)) for m in place), [c[:7] for c in controls], frames


def names():
    """(number, name, what) of every control and command of the layout, in table order."""
    src = layout_source()
    controls = re.findall(
        r'\{(\d+), (CTL_\w+), "((?:[^"\\]|\\.)*)", \d+, \d+, \d+, \d+, "(\w+)"\}', src)
    table = re.search(r"DialogCommandSpec COMMANDS\[\] = \{(.*?)\};", src, re.S)
    if not controls or not table:
        sys.exit("layout table not found")
    def what(kind, text):
        kind = kind[4:].lower().replace("_", " ")
        text = text if len(text) <= 10 else text[:9] + "..."
        return f'{kind} "{text}"' if text else kind

    out = [(int(i), n, what(k, t)) for i, k, t, n in controls]
    out += [(int(i), n, "command") for i, n in re.findall(r'\{(\d+), "(\w+)"\}', table.group(1))]
    seen_ids, seen_names = set(), set()
    for i, n, _ in out:
        if i in seen_ids or n in seen_names:
            sys.exit(f"layout table: {i} {n} named or numbered twice")
        seen_ids.add(i)
        seen_names.add(n)
    return out


def ids_text():
    lines = [
        "// SPDX-License-Identifier: Apache-2.0",
        "// Names of the console's controls and commands, made from the layout table",
        "// (src/app/console_layout.cpp) by src/platform/win32/make_resources.py: change the table and",
        "// run the script, never this file.",
        "#pragma once",
        "",
        "enum ConsoleControl : int {",
    ]
    entries = [(f"    ID_{n} = {i},", what) for i, n, what in names()]
    width = max(len(e) for e, _ in entries)
    lines += [f"{e:<{width}}  // {what}" for e, what in entries]
    lines.append("};")
    return "\n".join(lines) + "\n"


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


def outputs():
    return {
        IDS_HEADER: ids_text().encode("utf-8"),
        HERE / "headalign.rc": rc_text().encode("gbk"),
        HERE / "headalign.ico": ico_bytes(),
    }


if __name__ == "__main__":
    if sys.argv[1:] == ["--check"]:
        stale = [p for p, data in outputs().items() if not p.exists() or p.read_bytes() != data]
        for p in stale:
            print(f"{p.relative_to(TOP)} differs from what the layout table makes: run {Path(__file__).relative_to(TOP)}")
        sys.exit(1 if stale else 0)
    for path, data in outputs().items():
        path.write_bytes(data)
