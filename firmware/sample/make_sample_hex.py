#!/usr/bin/env python3
"""Writes the two sample firmware HEX files of this folder, deterministically.

    python3 make_sample_hex.py [OUTPUT_DIR]

pic24hj128_slot7.hex  PIC24HJ128/dsPIC33FJ128 application, 74240 program bytes
pic18f26k80_slot9.hex PIC18F26K80 application, 7857 program bytes, 1024 EEPROM bytes

The content is synthetic but laid out like real firmware: reset jump, vectors,
code words, a constant table, unprogrammed gaps, configuration words. See
README.md for the addresses.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import intel_hex_writer  # noqa: E402


class XorShift32:
    """A tiny PRNG whose sequence never depends on the Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x


def put(memory, address, data):
    for i, b in enumerate(data):
        memory[address + i] = b


# ---------------------------------------------------------------------------
# PIC18F26K80, slot 9: a masked image (the generator masks it at build time).

PIC18_PROGRAM_LENGTH = 0x1EB1  # 7857 bytes: 0x0000 to 0x1EB0
PIC18_EEPROM_LENGTH = 1024     # 0xF00000 to 0xF003FF
PIC18_BOARD = 0x05
PIC18_PREPARATION = 0x04
PIC18_GAPS = [
    (0x0004, 0x0008),  # unused between the reset jump and the high vector
    (0x001C, 0x0040),  # after the low vector
    (0x0600, 0x0700),  # four whole 64-byte rows left unprogrammed
    (0x0A30, 0x0A50),  # a gap across the row boundary at 0x0A40
    (0x1200, 0x1220),
]
PIC18_TABLE = 0x1E80   # constant text table that ends the program


def pic18_goto(byte_address):
    k = byte_address // 2
    return [k & 0xFF, 0xEF, (k >> 8) & 0xFF, 0xF0 | ((k >> 16) & 0x0F)]


def pic18_image():
    memory = {}
    rng = XorShift32(0x18F26080)
    # Code words first, then the fixed pieces over them, then the gaps.
    for address in range(0x0040, PIC18_TABLE, 2):
        word = rng.next() & 0xFFFF
        put(memory, address, [word & 0xFF, word >> 8])
    put(memory, 0x0000, pic18_goto(0x0040))        # reset: GOTO main
    put(memory, 0x0008, pic18_goto(0x0100))        # high-priority interrupt
    put(memory, 0x000C, [0x00, 0x00])              # NOP
    put(memory, 0x000E, [PIC18_BOARD, PIC18_PREPARATION])
    put(memory, 0x0010, [0x01, 0x04, 0x03, 0x00])  # firmware version 01.04.03.00
    put(memory, 0x0018, pic18_goto(0x0180))        # low-priority interrupt
    text = b"PELMARK SAMPLE 18F26K80 FW 01.04.03.00 BOARD 05"
    table = text + bytes(PIC18_PROGRAM_LENGTH - PIC18_TABLE - len(text))
    put(memory, PIC18_TABLE, table)
    for start, end in PIC18_GAPS:
        for address in range(start, end):
            memory.pop(address, None)
    assert max(memory) == PIC18_PROGRAM_LENGTH - 1

    # Data EEPROM: a settings block, an unprogrammed stretch, a counter table
    # and an end marker in the last byte.
    eeprom = [0xFF] * PIC18_EEPROM_LENGTH
    eeprom[0:8] = [PIC18_BOARD, PIC18_PREPARATION, 0x01, 0x04, 0x03, 0x00, 0x12, 0x34]
    for i in range(0x200, 0x3F0):
        eeprom[i] = i & 0xFF
    eeprom[PIC18_EEPROM_LENGTH - 1] = 0xA5
    for i, b in enumerate(eeprom):
        if not 0x100 <= i < 0x200:  # left out of the file: reads 0xFF
            memory[0xF00000 + i] = b

    # ID locations and configuration words: present in the file, never carried.
    put(memory, 0x200000, [0x01, 0x04, 0x03, 0x00, 0x05, 0x04, 0xFF, 0xFF])
    put(memory, 0x300000, [0x5D, 0x08, 0x1E, 0x11, 0x00, 0x88, 0x91, 0x00, 0x0F, 0xC0, 0x0F, 0xE0, 0x0F, 0x40])
    return memory


# ---------------------------------------------------------------------------
# PIC24HJ128 / dsPIC33FJ128, slot 7: a plain image. HEX addresses are byte
# addresses, 2 x program counter; each instruction takes four bytes, the last
# the zero "phantom" byte.

PIC24_PROGRAM_LENGTH = 0x12200  # 74240 bytes: program counter 0x0000 to 0x90FE
PIC24_GAPS_PC = [
    (0x2000, 0x2100),  # two whole 256-byte rows left unprogrammed
    (0x3040, 0x30C0),  # a gap across the row boundary at program counter 0x3080
]


def pic24_word(memory, pc, word):
    put(memory, 2 * pc, [word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, 0x00])


def pic24_image():
    memory = {}
    rng = XorShift32(0x24128001)
    # Reset: GOTO 0x000200, a two-word instruction.
    pic24_word(memory, 0x0000, 0x040200)
    pic24_word(memory, 0x0002, 0x000000)
    # Interrupt and alternate interrupt vector tables: all to the default
    # handler at 0x000210.
    for pc in range(0x0004, 0x0200, 2):
        pic24_word(memory, pc, 0x000210)
    for pc in range(0x0200, PIC24_PROGRAM_LENGTH // 2, 2):
        pic24_word(memory, pc, rng.next() & 0xFFFFFF)
    for start, end in PIC24_GAPS_PC:
        for address in range(2 * start, 2 * end):
            memory.pop(address, None)
    assert max(memory) == PIC24_PROGRAM_LENGTH - 1

    # Configuration registers FBS..FICD at program counter 0xF80000: present
    # in the file, never carried.
    for i, value in enumerate([0xCF, 0xCF, 0x07, 0xA2, 0xE6, 0x5F, 0xE7, 0xC3]):
        pic24_word(memory, 0xF80000 + 2 * i, value)
    return memory


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, memory in (("pic24hj128_slot7.hex", pic24_image()), ("pic18f26k80_slot9.hex", pic18_image())):
        # An initial type-04 record as the Microchip tools write it, 16-byte
        # aligned data records.
        intel_hex_writer.write(os.path.join(out_dir, name),
                               intel_hex_writer.hex_text(intel_hex_writer.runs(memory), initial_upper=True))


if __name__ == "__main__":
    main()
