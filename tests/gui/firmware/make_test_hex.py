#!/usr/bin/env python3
"""Writes the two small images of the desktop program's tests and their
manifest: PIC18F26K80 (slot 9) and PIC18F2580 (slot 1), each a few rows with
board code 0x05 and preparation code 0x04, so that a click-driven update
against the virtual device takes well under a second. The files are
committed; run this only to change them."""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "firmware"))
from test_hex import pic18, write_hex  # noqa: E402


write_hex(os.path.join(HERE, "gui_s9.hex"), [(0, pic18(150, 21, 0x05, 0x04)), (0xF00000, bytes([0x05, 0x04, 0x01, 0x04]))])
write_hex(os.path.join(HERE, "gui_s1.hex"), [(0, pic18(120, 22, 0x05, 0x04))])
manifest = {"images": [
    {"slot": 1, "row": 0, "hex": "gui_s1.hex", "plain": False, "trailer": "0102030405060708"},
    {"slot": 9, "row": 0, "hex": "gui_s9.hex", "plain": False, "trailer": "D1D2D3D4D5D6D7D8"},
]}
with open(os.path.join(HERE, "manifest.json"), "w") as f:
    json.dump(manifest, f, indent=1)
    f.write("\n")
