#!/usr/bin/env python3
"""Writes the shipped hold clip (data/vi_hold.avi): a silent AVI of eight
run-length coded 8-bit frames, 176 x 144, eight a second, that the remote
camera window plays while the line is held: a pause sign inside a ring of dots
whose lit dot goes round."""

import math
import struct
import sys

WIDTH, HEIGHT, FRAMES, FPS = 176, 144, 8, 8
# Palette entries as the file keeps them: blue, green, red, 0.
PALETTE = [(0x50, 0x30, 0x20), (0xFF, 0xFF, 0xFF), (0xA0, 0x90, 0x80), (0x40, 0xC0, 0xFF)]


def picture(lit):
    rows = [[0] * WIDTH for _ in range(HEIGHT)]
    for y in range(52, 92):
        for x in list(range(76, 84)) + list(range(92, 100)):
            rows[y][x] = 1
    cx, cy, r = 88, 72, 40
    for k in range(FRAMES):
        a = 2 * math.pi * k / FRAMES - math.pi / 2
        dx, dy = round(cx + r * math.cos(a)), round(cy + r * math.sin(a))
        for y in range(dy - 4, dy + 5):
            for x in range(dx - 4, dx + 5):
                if (x - dx) ** 2 + (y - dy) ** 2 <= 16:
                    rows[y][x] = 3 if k == lit else 2
    return rows


def rle8(rows):
    out = bytearray()
    for row in reversed(rows):  # bottom-up
        x = 0
        while x < WIDTH:
            n = 1
            while x + n < WIDTH and row[x + n] == row[x] and n < 255:
                n += 1
            out += bytes([n, row[x]])
            x += n
        out += b"\x00\x00"
    out[-2:] = b"\x00\x01"
    return bytes(out)


def chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\x00" if len(data) % 2 else b"")


def riff_list(kind, body):
    return chunk(b"LIST", kind + body)


def main(path):
    frames = [rle8(picture(i)) for i in range(FRAMES)]
    largest = max(len(f) for f in frames)
    avih = struct.pack("<14I", 1000000 // FPS, largest * FPS, 0, 0x10, FRAMES, 0, 1, largest, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = b"vids" + b"mrle" + struct.pack("<IHHIIIIIIiI4h", 0, 0, 0, 0, 1, FPS, 0, FRAMES, largest, -1, 0,
                                           0, 0, WIDTH, HEIGHT)
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 1, WIDTH * HEIGHT, 0, 0, len(PALETTE), 0)
    strf += b"".join(bytes([b, g, r, 0]) for b, g, r in PALETTE)
    hdrl = riff_list(b"hdrl", chunk(b"avih", avih) + riff_list(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_body = bytearray()
    index = bytearray()
    for f in frames:
        index += b"00dc" + struct.pack("<III", 0x10, 4 + len(movi_body), len(f))
        movi_body += chunk(b"00dc", f)
    movi = riff_list(b"movi", bytes(movi_body))
    body = b"AVI " + hdrl + movi + chunk(b"idx1", bytes(index))
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/vi_hold.avi")
