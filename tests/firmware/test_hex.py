"""Shared by the scripts that write the tests' small firmware images: code-
like bytes, Intel HEX files, and the shape of a PIC18 or PIC24 image."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "firmware"))
import intel_hex_writer  # noqa: E402


def pattern(n, seed):
    x = (seed * 2654435761 + 12345) & 0xFFFFFFFF
    out = bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((x >> 16) & 0xFF)
    return out


def write_hex(path, regions):
    """regions: list of (byte address, bytes)."""
    intel_hex_writer.write(path, intel_hex_writer.hex_text(intel_hex_writer.slices(regions)))


def pic18(size, seed, board, prep):
    p = pattern(size, seed)
    p[0:4] = bytes([0x80, 0xEF, 0x00, 0xF0])  # GOTO 0x100
    p[14], p[15] = board, prep
    return p


def pic24(size, seed, board=None, prep=None):
    p = pattern(size, seed)
    for i in range(3, size, 4):  # phantom byte of every instruction
        p[i] = 0
    p[0:8] = bytes([0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00])  # GOTO 0x200
    if board is not None:
        p[0x400], p[0x401] = board, prep
    return p
