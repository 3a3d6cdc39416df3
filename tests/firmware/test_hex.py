"""Shared by the scripts that write the tests' small firmware images: code-
like bytes, Intel HEX records, and the shape of a PIC18 or PIC24 image."""
import os


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


def write_hex(path, regions):
    """regions: list of (byte address, bytes)."""
    lines, upper = [], 0
    for base, data in regions:
        for off in range(0, len(data), 16):
            addr = base + off
            if addr >> 16 != upper:
                upper = addr >> 16
                lines.append(record(4, 0, [(upper >> 8) & 0xFF, upper & 0xFF]))
            lines.append(record(0, addr & 0xFFFF, data[off:off + 16]))
    lines.append(":00000001FF")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


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
