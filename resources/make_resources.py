#!/usr/bin/env python3
"""Draws the program's icons and window background and writes them next to this file.

Outputs: kalo.ico (idle window icon), Telp.ico (communicating), Telp5.ico
(stopped), kalo.png (idle icon as RGBA PNG) and background.png (striped
window background).

The pictures are generated rather than kept as hand-edited binaries so that
they can be reviewed and changed as code, and rebuilt with nothing but the
Python standard library.
"""

import os
import struct
import zlib

SIZE = 32

# One fixed 16-colour palette for all icons keeps them at 4 bits per pixel,
# the oldest ICO flavour, which every icon reader (Qt's included) handles.
PALETTE = [
    (0, 0, 0),  # 0  outline (also what transparent pixels hold in the XOR image)
    (60, 60, 64),  # 1  deep shadow (spare)
    (110, 112, 116),  # 2  dark grey
    (150, 152, 156),  # 3  mid grey
    (188, 190, 194),  # 4  light grey
    (222, 224, 228),  # 5  highlight grey
    (255, 255, 255),  # 6  white
    (0, 96, 104),  # 7  dark teal
    (0, 150, 150),  # 8  teal
    (90, 220, 210),  # 9  bright teal
    (0, 120, 0),  # 10 dark green
    (40, 230, 40),  # 11 bright green
    (150, 0, 0),  # 12 dark red
    (225, 30, 30),  # 13 red
    (245, 245, 160),  # 14 pale yellow (spare)
    (40, 40, 44),  # 15 near-black (spare)
]

OUTLINE, SHADOW, DARK, MID, LIGHT, HILITE, WHITE = range(7)
TEAL_D, TEAL, TEAL_B, GREEN_D, GREEN, RED_D, RED = range(7, 14)


class Canvas:
    """A 32x32 grid of palette indices; None marks a transparent pixel."""

    def __init__(self, size=SIZE):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def set(self, x, y, c):
        # Clipping here lets shapes hang off the edge without special cases.
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def get(self, x, y):
        if 0 <= x < self.size and 0 <= y < self.size:
            return self.px[y][x]
        return None

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def ellipse(self, x0, y0, x1, y1, c):
        # Pixel centres tested against the box's inscribed ellipse, so even
        # sized boxes stay symmetric.
        cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
        rx, ry = (x1 - x0 + 1) / 2, (y1 - y0 + 1) / 2
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0:
                    self.set(x, y, c)

    def round_rect(self, x0, y0, x1, y1, r, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                dx = max(x0 + r - x, 0, x - (x1 - r))
                dy = max(y0 + r - y, 0, y - (y1 - r))
                if dx * dx + dy * dy <= r * r + 0.5:
                    self.set(x, y, c)

    def trapezoid(self, y0, y1, top, bottom, c):
        """Rows y0..y1 whose span widens linearly from `top` to `bottom` (x pairs)."""
        for y in range(y0, y1 + 1):
            t = (y - y0) / max(y1 - y0, 1)
            xa = round(top[0] + (bottom[0] - top[0]) * t)
            xb = round(top[1] + (bottom[1] - top[1]) * t)
            for x in range(xa, xb + 1):
                self.set(x, y, c)

    def outline(self, c=OUTLINE):
        """Ring every opaque shape with `c`, so the icon stays legible on any backdrop."""
        ring = []
        for y in range(self.size):
            for x in range(self.size):
                if self.px[y][x] is None and any(
                    self.get(x + dx, y + dy) not in (None, c)
                    for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))
                ):
                    ring.append((x, y))
        for x, y in ring:
            self.set(x, y, c)


# --- the telephone -----------------------------------------------------------

def draw_phone(cv, body, body_hi, body_lo, keys, keys_hi):
    # The body: a wedge, wider at the foot, like a desk set seen from the front.
    cv.trapezoid(13, 29, (6, 25), (2, 29), body)
    cv.rect(2, 28, 29, 29, body_lo)  # the foot in shadow grounds the set
    cv.trapezoid(13, 14, (7, 24), (6, 25), body_hi)  # lit top edge
    # Cradle prongs the handset rests on.
    cv.rect(6, 11, 8, 13, body_lo)
    cv.rect(23, 11, 25, 13, body_lo)

    # Handset: two cups joined by a grip, lying across the cradle.
    cv.ellipse(2, 7, 10, 13, body_lo)
    cv.ellipse(21, 7, 29, 13, body_lo)
    cv.round_rect(4, 4, 27, 9, 3, body)
    cv.rect(7, 5, 24, 5, body_hi)  # sheen along the grip
    cv.ellipse(3, 7, 9, 11, body)
    cv.ellipse(22, 7, 28, 11, body)

    # Keypad: a recessed panel with a 3 x 4 grid of 2 x 2 keys.
    cv.round_rect(10, 15, 21, 27, 1, body_lo)
    for row in range(4):
        for col in range(3):
            x, y = 11 + col * 4, 16 + row * 3
            cv.rect(x, y, x + 1, y + 1, keys)
            cv.set(x, y, keys_hi)  # one lit corner makes each key read as a button


def draw_waves(cv, ox, oy, radii, colour):
    # Quarter arcs opening up and to the right of (ox, oy): the usual "on air" cue.
    for r in radii:
        for y in range(oy - r - 1, oy + 1):
            for x in range(ox, ox + r + 2):
                d = ((x - ox) ** 2 + (y - oy) ** 2) ** 0.5
                if abs(d - r) <= 0.5:
                    cv.set(x, y, colour)


def draw_badge(cv, x0, y0, x1, y1, fill, rim):
    # Status badges sit in the bottom-right corner, where overlay marks on
    # icons are conventionally looked for; the black ring keeps them apart
    # from the phone behind.
    cv.ellipse(x0, y0, x1, y1, OUTLINE)
    cv.ellipse(x0 + 1, y0 + 1, x1 - 1, y1 - 1, rim)
    cv.ellipse(x0 + 2, y0 + 2, x1 - 2, y1 - 2, fill)


def icon_idle():
    cv = Canvas()
    draw_phone(cv, MID, LIGHT, DARK, TEAL, TEAL_B)
    cv.outline()
    return cv


def icon_communicating():
    # Brighter body, lit keys and a green lamp sending out waves: the line is live.
    cv = Canvas()
    draw_phone(cv, LIGHT, HILITE, MID, TEAL_B, WHITE)
    cv.outline()
    draw_badge(cv, 18, 18, 31, 31, GREEN, GREEN_D)
    cv.rect(21, 27, 22, 28, WHITE)
    draw_waves(cv, 21, 28, (3, 6), WHITE)
    return cv


def icon_stopped():
    # Dimmed keys and a red "no entry" badge: the line is deliberately halted.
    cv = Canvas()
    draw_phone(cv, MID, LIGHT, DARK, TEAL_D, TEAL)
    cv.outline()
    draw_badge(cv, 18, 18, 31, 31, RED, RED_D)
    cv.rect(21, 24, 28, 25, WHITE)
    return cv


# --- file writers ------------------------------------------------------------

def ico_bytes(cv, palette=PALETTE):
    """One 32x32, 4-bpp image in an ICO container (BITMAPINFOHEADER + AND mask)."""
    w = h = cv.size
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4

    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(h)):  # DIB rows run bottom-up
        row = cv.px[y]
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            idx = 0 if c is None else c
            if x % 2 == 0:
                line[x // 2] |= idx << 4
            else:
                line[x // 2] |= idx
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits

    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    # Height is doubled because the XOR image and AND mask are stacked.
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, len(palette), 0)
    image = header + pal + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, len(palette) % 256, 0,
                        1, 4, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(width, height, rows, colour_type):
    """rows: iterable of raw scanline bytes; colour_type 2 = RGB, 6 = RGBA."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(r) for r in rows)  # filter type 0 (None) per row
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def canvas_png(cv, palette=PALETTE):
    rows = []
    for row in cv.px:
        line = bytearray()
        for c in row:
            line += bytes((0, 0, 0, 0)) if c is None else bytes(palette[c] + (255,))
        rows.append(line)
    return png_bytes(cv.size, cv.size, rows, 6)


def background_png(width=1058, height=672):
    # Fine three-row stripes give the window a quiet ruled-paper texture
    # that stays light enough behind labels and log text.
    stripes = [(220, 220, 220), (228, 228, 228), (255, 255, 255)]
    lines = [bytes(s) * width for s in stripes]
    return png_bytes(width, height, (lines[y % 3] for y in range(height)), 2)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    idle = icon_idle()
    outputs = {
        "kalo.ico": ico_bytes(idle),
        "Telp.ico": ico_bytes(icon_communicating()),
        "Telp5.ico": ico_bytes(icon_stopped()),
        "kalo.png": canvas_png(idle),
        "background.png": background_png(),
    }
    for name, data in outputs.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
