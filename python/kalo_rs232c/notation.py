"""The program's notation for texts on the line: control characters as bracketed names."""
from __future__ import annotations

import re

# The names as the instrument's users know them: 02 is SXT, 03 EOT and 04 EXT.
CONTROL_NAMES = (
    "NUL", "SOH", "SXT", "EOT", "EXT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR",
    "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC",
    "FS", "GS", "RS", "US", "SP",
)
_CODES = {name: bytes([code]) for code, name in enumerate(CONTROL_NAMES)}


def to_bytes(text: str) -> bytes:
    """The bytes the program sends for text, converted as the settings dialog converts it.

    Known names become their codes and unknown names vanish; a "[" without a "]" and
    everything else stand for themselves in code page 932.
    """
    result = bytearray()
    pos = 0
    while pos < len(text):
        opening = text.find("[", pos)
        closing = text.find("]", opening) if opening >= 0 else -1
        if closing < 0:
            result += text[pos:].encode("cp932", errors="replace")
            break
        result += text[pos:opening].encode("cp932", errors="replace")
        result += _CODES.get(text[opening + 1:closing], b"")
        pos = closing + 1
    return bytes(result)


_STAMP = re.compile(rb"\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\] ")
_HEX = re.compile(r"x([0-9A-Fa-f]{2})")


def _is_lead_byte(b: int) -> bool:
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def from_saved(text: bytes) -> bytes:
    """The bytes a saved log's record stands for: a code page 932 lead byte takes the next
    byte whatever it is, "[NAME]" and "[xHH]" are one byte each, any other byte is itself."""
    out = bytearray()
    i = 0
    while i < len(text):
        b = text[i]
        if b < 0x20 or b in b'"\x7f':
            raise ValueError(f"byte {b:#04x} in a saved record")
        if _is_lead_byte(b) and i + 1 < len(text):
            out += text[i:i + 2]
            i += 2
        elif b == ord("["):
            close = text.index(b"]", i)
            name = text[i + 1:close].decode("ascii")
            hexa = _HEX.fullmatch(name)
            out += bytes([int(hexa.group(1), 16)]) if hexa else _CODES[name]
            i = close + 1
        else:
            out.append(b)
            i += 1
    return bytes(out)


def saved_lines(data: bytes) -> list[bytes]:
    """A saved log's lines as the bytes the program logged: the caption, then what follows
    each line's stamp. Raises ValueError for a file that is no saved log."""
    records = data.split(b"\r\n")
    if records[-1] != b"" or not all(len(r) > 1 and r[:1] == b'"' == r[-1:] for r in records[:-1]):
        raise ValueError("a saved log is quoted records, one a line, each ended by CR LF")
    lines = [from_saved(records[0][1:-1])]
    for record in records[1:-1]:
        if not _STAMP.match(record, 1):
            raise ValueError(f"a line without its stamp: {record[:40]!r}")
        lines.append(from_saved(record[23:-1]))
    return lines
