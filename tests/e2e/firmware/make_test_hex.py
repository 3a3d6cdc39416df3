#!/usr/bin/env python3
"""Writes the small test images of the end-to-end tests (HEX files and the
manifest). The files are committed; run this only to change them."""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "firmware"))
from test_hex import pattern, pic18, pic24, write_hex  # noqa: E402


images = []


def add(slot, row, name, regions, trailer, plain=False, board=None, prep=None):
    write_hex(os.path.join(HERE, name), regions)
    entry = {"slot": slot, "row": row, "hex": name, "plain": plain, "trailer": trailer}
    if plain and board is not None:
        entry["board"], entry["preparation"] = board, prep
    images.append(entry)


T8 = "0102030405060708"
add(0, 0, "s0.hex", [(0, pic18(200, 1, 0x05, 0x04)), (0xF00000, bytes([0x11, 0x22, 0x33]))], T8)
add(0, 2, "s0_board2.hex", [(0, pic18(150, 2, 0x02, 0x04))], T8)
add(1, 0, "s1.hex", [(0, pic18(130, 3, 0x05, 0x04)), (0x300000, bytes([0x00, 0x12]))], T8)
add(3, 0, "s3.hex", [(0, pic18(128, 4, 0x20, 0x81))], T8)
add(4, 0, "s4.hex", [(0, pic18(100, 5, 0x10, 0x02))], T8)
add(5, 0, "s5.hex", [(0, pic18(300, 6, 0x05, 0x14))], T8)
add(6, 0, "s6.hex", [(0, pic24(1200, 7, 0x05, 0x04))], "A1A2A3A4A5A6A7A8")
add(6, 19, "s6_board19_too_big.hex", [(0, pic24(85761 + 3, 8, 0x05, 0x04)[:85761])], T8)
add(7, 0, "s7.hex", [(0, pic24(1100, 9))], "B1B2B3B4B5B6B7B8", plain=True)
add(8, 0, "s8.hex", [(0, pic18(200, 10, 0x05, 0x04)), (0xF00000, bytes(range(5)))], "C1C2C3C4C5C6C7C8")
add(9, 0, "s9.hex", [(0, pic18(130, 11, 0x05, 0x04)), (0xF00000, pattern(300, 12))], "D1D2D3D4D5D6D7D8")

with open(os.path.join(HERE, "manifest.json"), "w") as f:
    json.dump({"images": images}, f, indent=1)
    f.write("\n")
