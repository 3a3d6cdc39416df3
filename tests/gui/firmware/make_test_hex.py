#!/usr/bin/env python3
"""Writes the two small images of the desktop program's tests and their
manifest: PIC18F26K80 (slot 9) and PIC18F2580 (slot 1), each a few rows with
board code 0x05 and preparation code 0x04, so that a click-driven update
against the virtual device takes well under a second. The files are
committed; run this only to change them."""
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def pattern(n, seed):
    x = (seed * 2654435761 + 12345) & 0xFFFFFFFF
    out = bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((x >> 16) & 0xFF)
    return out


def record(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)


def write_hex(name, regions):
    lines, upper = [], 0
    for base, data in regions:
        for off in range(0, len(data), 16):
            addr = base + off
            if addr >> 16 != upper:
                upper = addr >> 16
                lines.append(record(4, 0, [(upper >> 8) & 0xFF, upper & 0xFF]))
            lines.append(record(0, addr & 0xFFFF, data[off:off + 16]))
    lines.append(":00000001FF")
    with open(os.path.join(HERE, name), "w") as f:
        f.write("\n".join(lines) + "\n")


def pic18(size, seed):
    p = pattern(size, seed)
    p[0:4] = bytes([0x80, 0xEF, 0x00, 0xF0])  # GOTO 0x100
    p[14], p[15] = 0x05, 0x04                 # board, preparation
    return p


write_hex("gui_s9.hex", [(0, pic18(150, 21)), (0xF00000, bytes([0x05, 0x04, 0x01, 0x04]))])
write_hex("gui_s1.hex", [(0, pic18(120, 22))])
manifest = {"images": [
    {"slot": 1, "row": 0, "hex": "gui_s1.hex", "plain": False, "trailer": "0102030405060708"},
    {"slot": 9, "row": 0, "hex": "gui_s9.hex", "plain": False, "trailer": "D1D2D3D4D5D6D7D8"},
]}
with open(os.path.join(HERE, "manifest.json"), "w") as f:
    json.dump(manifest, f, indent=1)
    f.write("\n")
