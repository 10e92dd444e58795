#!/usr/bin/env python3
"""Writes the tray's pictures into common/win32/res, all made from
tarvimon.ico so that they stay alike; run it again after the icon changes:

- tarvimon_new.ico: the icon with a red badge in its lower right corner,
  shown while unread new mail waits;
- tarvimon_dark.ico and tarvimon_new_dark.ico: the same two for a dark
  taskbar, the envelope in a lighter blue, which the dark grey of the
  taskbar leaves as clear as the light grey leaves the darker one.

Only the 16, 32 and 48 pixel images (plain 32-bit DIBs) are kept: the
notification area never asks for more."""
import os
import struct

RES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "common", "win32", "res")


def badge(dib, size):
    header = struct.unpack_from("<IiiHHIIiiII", dib)
    if header[0] != 40 or header[4] != 32 or header[1] != size:
        raise SystemExit("expected a 32-bit DIB of %d pixels" % size)
    px = bytearray(dib[40:40 + size * size * 4])
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray(dib[40 + size * size * 4:40 + size * size * 4 + mask_stride * size])
    cx = cy = size * 0.70
    r = size * 0.30
    for y in range(size):
        for x in range(size):
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            if d > r:
                continue
            # White rim, red inside: readable on a dark and a light taskbar.
            bgra = (255, 255, 255, 255) if d > r - max(1.0, size / 16) else (32, 32, 224, 255)
            row = size - 1 - y  # DIB rows run bottom up
            o = (row * size + x) * 4
            px[o:o + 4] = bytes(bgra)
            mask[row * mask_stride + x // 8] &= ~(0x80 >> (x % 8)) & 0xFF
    return dib[:40] + bytes(px) + bytes(mask)


# The envelope's blue (B, G, R) and the lighter one of the dark taskbar.
ENVELOPE = (176, 108, 43)
ENVELOPE_ON_DARK = (210, 135, 66)


def lighten(dib, size):
    """Moves the envelope's blue, and the blends of it with the white of
    its flap, to the lighter blue; the other colours stay."""
    px = bytearray(dib[40:40 + size * size * 4])
    for o in range(0, size * size * 4, 4):
        c = px[o:o + 3]
        # How far along the line from the blue to white the colour lies.
        t = sum(c[k] - ENVELOPE[k] for k in range(3)) / sum(255 - ENVELOPE[k] for k in range(3))
        if not -0.05 <= t <= 1:  # a shade off the blue is the blue
            continue
        t = max(t, 0.0)
        if any(abs(ENVELOPE[k] + t * (255 - ENVELOPE[k]) - c[k]) > 6 for k in range(3)):
            continue
        px[o:o + 3] = bytes(round(ENVELOPE_ON_DARK[k] + t * (255 - ENVELOPE_ON_DARK[k])) for k in range(3))
    return dib[:40] + bytes(px) + dib[40 + size * size * 4:]


def write(name, images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for w, h, colors, res, planes, bits, dib in images:
        out += struct.pack("<BBBBHHII", w, h, colors, res, planes, bits, len(dib), offset + len(body))
        body += dib
    open(os.path.join(RES, name), "wb").write(out + body)


def main():
    data = open(os.path.join(RES, "tarvimon.ico"), "rb").read()
    _, _, count = struct.unpack_from("<HHH", data)
    images = []
    for i in range(count):
        w, h, colors, res, planes, bits, size, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        dib = data[off:off + size]
        if w in (16, 32, 48) and dib[:4] == b"\x28\x00\x00\x00":
            images.append((w, h, colors, res, planes, bits, dib))
    variants = {
        "tarvimon_new.ico": lambda dib, w: badge(dib, w),
        "tarvimon_dark.ico": lambda dib, w: lighten(dib, w),
        "tarvimon_new_dark.ico": lambda dib, w: badge(lighten(dib, w), w),
    }
    for name, make in variants.items():
        write(name, [(w, h, c, r, p, b, make(dib, w)) for w, h, c, r, p, b, dib in images])


if __name__ == "__main__":
    main()
