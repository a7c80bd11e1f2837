#!/usr/bin/env python3
# Makes the demo's files (an icon, a bitmap, a WAV sound, a text file) from nothing but arithmetic, so
# they can be made again byte for byte. The results are committed; the demo does not run this.
import math
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "files")


def pixel(x, y, w, h):
    # A loom-like weave: diagonal bands in two colours over a soft gradient.
    band = ((x + y) // 4 + (x - y + h) // 4) % 2
    r = 40 + 180 * x // max(w - 1, 1)
    g = 90 + 120 * y // max(h - 1, 1)
    b = 200 if band else 120
    return r, g, b


def icon():
    w = h = 16
    xor = b"".join(bytes((b, g, r, 255)) for y in range(h - 1, -1, -1) for x in range(w)
                   for (r, g, b) in [pixel(x, y, w, h)])
    mask = bytes(4 * h)  # 32 bits per row: every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(image), 22) + image


def bitmap():
    w, h = 96, 32
    row = lambda y: b"".join(bytes((b, g, r)) for x in range(w) for (r, g, b) in [pixel(x, y, w, h)])
    stride = (3 * w + 3) // 4 * 4
    pixels = b"".join(row(y).ljust(stride, b"\0") for y in range(h - 1, -1, -1))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(pixels), 0, 0, 54) + info + pixels


def sound():
    rate, seconds = 11025, 0.6
    samples = []
    for i in range(int(rate * seconds)):
        t = i / rate
        envelope = math.exp(-5 * t)
        v = envelope * (0.6 * math.sin(2 * math.pi * 660 * t) + 0.3 * math.sin(2 * math.pi * 990 * t))
        samples.append(int(max(-1, min(1, v)) * 32000))
    data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    return b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE" + \
        b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data


def text():
    lines = ["Hexaloom demo", "", "This text travels inside the program that includes the generated file."]
    lines += ["Line %d: the quick brown fox packs twelve dozen liquor jugs." % i for i in range(1, 41)]
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


os.makedirs(here, exist_ok=True)
for name, make in [("hexaloom.ico", icon), ("weave.bmp", bitmap), ("chime.wav", sound), ("readme.txt", text)]:
    with open(os.path.join(here, name), "wb") as f:
        f.write(make())
