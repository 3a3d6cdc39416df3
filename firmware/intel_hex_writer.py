"""Intel HEX text as the firmware files of this tree hold it, shared by the
scripts that write the sample firmware and the tests' small images: records
with their checksums, type-04 records where the upper address changes, the
end-of-file record. Python 3, standard library only."""


def record(kind, address, data):
    """One record: its type, its 16-bit address, its data bytes."""
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF)


def runs(memory):
    """(address, bytes) pieces of {address: byte}: contiguous runs of at most
    16 bytes, a new one at every 16-byte boundary."""
    pieces = []
    addresses = sorted(memory)
    i = 0
    while i < len(addresses):
        start = addresses[i]
        chunk = [memory[start]]
        i += 1
        while (i < len(addresses) and len(chunk) < 16 and addresses[i] == start + len(chunk)
               and addresses[i] % 16 != 0):
            chunk.append(memory[addresses[i]])
            i += 1
        pieces.append((start, chunk))
    return pieces


def slices(regions):
    """(address, bytes) pieces of (byte address, bytes) regions: 16 bytes at
    a time from each region's start."""
    return [(base + off, data[off:off + 16]) for base, data in regions for off in range(0, len(data), 16)]


def hex_text(pieces, initial_upper=False):
    """The HEX text of (address, bytes) pieces, each within one 64 KiB page.
    `initial_upper`: the text starts with the type-04 record of page 0, as the
    Microchip tools write it."""
    lines = [record(4, 0, [0, 0])] if initial_upper else []
    upper = 0
    for address, data in pieces:
        if address >> 16 != upper:
            upper = address >> 16
            lines.append(record(4, 0, [(upper >> 8) & 0xFF, upper & 0xFF]))
        lines.append(record(0, address & 0xFFFF, data))
    lines.append(record(1, 0, []))
    return "\n".join(lines) + "\n"


def write(path, text):
    """Writes HEX text with '\\n' line ends on every system."""
    with open(path, "w", newline="\n") as f:
        f.write(text)
