"""The program's notation for texts on the line: control characters as bracketed names."""
from __future__ import annotations

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
