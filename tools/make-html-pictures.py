#!/usr/bin/env python3
"""Draws the pictures of the web pages in html/: the logo of the logo bar and
the pictures of the help page. Plain GIFs from a few rectangles and a 5x7
letter set, so they need nothing but Python. Run from the source tree:
    tools/make-html-pictures.py
"""
import os
import struct

FONT = {
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'F': ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    'G': ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'W': ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    'X': ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    'Y': ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    '1': ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    '0': ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    '9': ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    ' ': ["00000"] * 7,
}


class Canvas:
    def __init__(self, w, h, palette, fill=0):
        self.w, self.h, self.palette = w, h, palette
        self.px = [fill] * (w * h)

    def rect(self, x, y, w, h, c):
        for j in range(max(0, y), min(self.h, y + h)):
            for i in range(max(0, x), min(self.w, x + w)):
                self.px[j * self.w + i] = c

    def text(self, x, y, s, c, scale=1):
        for ch in s:
            for row, bits in enumerate(FONT[ch]):
                for col, bit in enumerate(bits):
                    if bit == '1':
                        self.rect(x + col * scale, y + row * scale, scale, scale, c)
            x += 6 * scale

    def gif(self, path):
        # 16-colour table; LZW kept to literal codes with a clear code often
        # enough that the code width never grows past 5 bits.
        pal = (self.palette + [(0, 0, 0)] * 16)[:16]
        out = bytearray(b"GIF89a")
        out += struct.pack("<HHBBB", self.w, self.h, 0xF3, 0, 0)
        for r, g, b in pal:
            out += bytes((r, g, b))
        out += b"," + struct.pack("<HHHHB", 0, 0, self.w, self.h, 0)
        clear, end = 16, 17
        codes = []
        for i, p in enumerate(self.px):
            if i % 12 == 0:
                codes.append(clear)
            codes.append(p)
        codes.append(end)
        bits, nbits, data = 0, 0, bytearray()
        for code in codes:
            bits |= code << nbits
            nbits += 5
            while nbits >= 8:
                data.append(bits & 0xFF)
                bits >>= 8
                nbits -= 8
        if nbits:
            data.append(bits & 0xFF)
        out.append(4)
        for i in range(0, len(data), 255):
            chunk = data[i:i + 255]
            out.append(len(chunk))
            out += chunk
        out += b"\x00;"
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(out)


NAVY, TEAL, WHITE, GREY, DARK, GREEN, AMBER, LIGHT = range(8)
PALETTE = [(0x1E, 0x2A, 0x3A), (0x2F, 0x8F, 0x9D), (0xFF, 0xFF, 0xFF), (0x94, 0x94, 0x94),
           (0x30, 0x38, 0x48), (0x40, 0xC0, 0x60), (0xF0, 0xB0, 0x30), (0xC0, 0xC0, 0xC0)]


def logo(path):
    c = Canvas(133, 25, PALETTE, NAVY)
    c.rect(0, 21, 133, 4, TEAL)
    c.rect(4, 4, 14, 14, TEAL)      # a small transceiver with its aerial
    c.rect(7, 8, 8, 6, DARK)
    c.rect(9, 10, 3, 3, GREEN)
    c.rect(15, 0, 2, 5, LIGHT)
    c.text(24, 5, "BRINDLE", WHITE, 2)
    c.gif(path)


def status_picture(path):
    c = Canvas(240, 120, PALETTE, WHITE)
    c.rect(0, 0, 240, 18, NAVY)
    c.text(6, 6, "STATUS", WHITE)
    c.rect(10, 26, 220, 12, DARK)
    c.text(14, 29, "USED NAME CHANGED", WHITE)
    for i in range(5):
        c.rect(10, 40 + i * 15, 220, 14, GREY if i % 2 == 0 else LIGHT)
        c.rect(14, 43 + i * 15, 8, 8, WHITE)
        if i in (0, 2):
            c.rect(16, 45 + i * 15, 4, 4, GREEN)
        c.rect(150, 43 + i * 15, 60, 8, WHITE)
        c.rect(202, 43 + i * 15, 8, 8, AMBER)
    c.gif(path)


def radio_picture(path):
    c = Canvas(160, 80, PALETTE, WHITE)
    c.rect(20, 30, 70, 36, DARK)
    c.rect(30, 40, 12, 12, GREEN)
    c.rect(80, 6, 4, 26, GREY)
    for r in range(3):
        c.rect(100 + r * 14, 40 - r * 8, 6, 12 + r * 16, TEAL)
    c.text(22, 70, "CM19A", NAVY)
    c.gif(path)


if __name__ == "__main__":
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "html")
    logo(os.path.join(root, "brindlehub", "images", "brindle-logo.gif"))
    files = os.path.join(root, "Help", "brindlehub", "brindlehub_files")
    status_picture(os.path.join(files, "status-page.gif"))
    radio_picture(os.path.join(files, "transceiver.gif"))
