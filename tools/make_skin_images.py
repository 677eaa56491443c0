#!/usr/bin/env python3
"""Draws the updater skin's images and writes them as PNG files.

Standard library only (zlib, struct), so anyone can redraw the images without installing
anything. The look is dark and high-contrast for a dimly lit DJ booth: near-black surfaces,
light text areas, one cyan accent.

    python3 tools/make_skin_images.py FirmwareUpdater/Panel/Resources

writes UpdaterBackground.png, PanelMini1.png, WavecrestSpriteSheet.png and CE.png. The skin
(Skins.xml) refers to the sprite sheet by pixel positions; SPRITES below is the one place that
lays it out, so change both together.
"""

import math
import os
import struct
import sys
import zlib

ACCENT = (0, 200, 255)
SURFACE = (20, 23, 28)
SURFACE_DEEP = (10, 12, 15)
PANEL = (27, 32, 39)
EDGE = (48, 56, 67)
LIGHT = (232, 236, 240)

# name: (x, y, width, height) inside the sprite sheet
SPRITES = {
    "button.normal": (0, 0, 180, 32),
    "button.hover": (0, 32, 180, 32),
    "button.pressed": (0, 64, 180, 32),
    "button.disabled": (0, 96, 180, 32),
    "progress.track": (0, 128, 180, 18),
    "progress.fill": (0, 146, 180, 18),
    "statusbar": (0, 164, 180, 22),
}


class Canvas:
    """An RGBA image of floats (0..1) with anti-aliased filled shapes."""

    def __init__(self, width, height, colour=(0, 0, 0), alpha=1.0):
        self.width = width
        self.height = height
        r, g, b = (c / 255.0 for c in colour)
        self.pixels = [[r, g, b, alpha] for _ in range(width * height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        p = self.pixels[y * self.width + x]
        r, g, b = (c / 255.0 for c in colour)
        out_a = alpha + p[3] * (1 - alpha)
        if out_a <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = (c * alpha + p[i] * p[3] * (1 - alpha)) / out_a
        p[3] = out_a

    def fill(self, inside, bounds, colour, alpha=1.0, samples=4):
        """Fills where inside(x, y) holds, with coverage from samples x samples points per pixel."""
        x0, y0, x1, y1 = (int(math.floor(v)) for v in bounds)
        for y in range(max(0, y0), min(self.height, y1 + 1)):
            for x in range(max(0, x0), min(self.width, x1 + 1)):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                            hits += 1
                if hits:
                    self.blend(x, y, colour, alpha * hits / (samples * samples))

    def rounded_rect(self, x, y, w, h, radius, colour, alpha=1.0):
        def inside(px, py):
            cx = min(max(px, x + radius), x + w - radius)
            cy = min(max(py, y + radius), y + h - radius)
            return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2 and x <= px <= x + w and y <= py <= y + h
        self.fill(inside, (x, y, x + w, y + h), colour, alpha)

    def ring(self, cx, cy, outer, inner, colour, alpha=1.0):
        def inside(px, py):
            d = (px - cx) ** 2 + (py - cy) ** 2
            return inner ** 2 <= d <= outer ** 2
        self.fill(inside, (cx - outer, cy - outer, cx + outer, cy + outer), colour, alpha)

    def disc(self, cx, cy, radius, colour, alpha=1.0):
        self.ring(cx, cy, radius, 0, colour, alpha)

    def rect(self, x, y, w, h, colour, alpha=1.0):
        for py in range(max(0, y), min(self.height, y + h)):
            for px in range(max(0, x), min(self.width, x + w)):
                self.blend(px, py, colour, alpha)

    def vertical_gradient(self, x, y, w, h, top, bottom, alpha=1.0):
        for py in range(h):
            t = py / max(1, h - 1)
            colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
            self.rect(x, y + py, w, 1, colour, alpha)

    def png(self):
        rows = bytearray()
        for y in range(self.height):
            rows.append(0)  # filter: none
            for x in range(self.width):
                p = self.pixels[y * self.width + x]
                rows.extend(max(0, min(255, round(c * 255))) for c in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) +
                chunk(b"IEND", b""))


def background():
    c = Canvas(400, 450)
    c.vertical_gradient(0, 0, 400, 450, SURFACE, SURFACE_DEEP)
    # The product stands in a faint spotlight that fades out towards its edge.
    for py in range(4, 124):
        for px in range(10, 390):
            d = ((px - 200) / 190) ** 2 + ((py - 64) / 60) ** 2
            if d < 1:
                c.blend(px, py, (40, 60, 80), 0.35 * (1 - d) ** 2)
    # Text panel behind the version and state texts.
    c.rounded_rect(12, 134, 376, 214, 6, EDGE)
    c.rounded_rect(13, 135, 374, 212, 5, PANEL)
    # Accent rule between the product and the texts.
    c.rect(20, 126, 360, 2, ACCENT, 0.9)
    # Button strip and status bar.
    c.rect(0, 376, 400, 1, EDGE)
    c.rect(0, 426, 400, 24, SURFACE_DEEP)
    c.rect(0, 426, 400, 1, EDGE)
    return c


def panel_mini():
    w, h = 360, 104
    c = Canvas(w, h, alpha=0.0)
    c.rounded_rect(4, 8, w - 8, h - 16, 12, EDGE)
    c.rounded_rect(6, 10, w - 12, h - 20, 10, (30, 34, 41))
    for cx in (72, w - 72):
        cy = h / 2
        c.disc(cx, cy, 38, (58, 65, 80))      # wheel rim
        c.disc(cx, cy, 34, (22, 25, 30))      # platter
        for k in range(24):                   # grip marks on the rim
            a = 2 * math.pi * k / 24
            c.disc(cx + 36 * math.cos(a), cy + 36 * math.sin(a), 1.1, (120, 130, 145))
        c.ring(cx, cy, 16, 14, ACCENT)        # the display in the wheel's centre
        c.disc(cx, cy, 13, (8, 30, 40))
        c.rect(int(cx) - 6, int(cy) - 1, 12, 2, ACCENT, 0.9)
    # Mixer: channel faders, knobs and the crossfader.
    mx = w // 2
    for i, fx in enumerate((mx - 36, mx - 12, mx + 12, mx + 36)):
        for row in range(3):
            c.disc(fx, 24 + row * 12, 4, (150, 158, 170))
        c.rect(fx - 1, 56, 2, 26, (12, 14, 17))
        c.rect(fx - 5, 60 + (i * 7) % 18, 10, 5, LIGHT)
    c.rect(mx - 20, 88, 40, 2, (12, 14, 17))
    c.rect(mx - 4, 85, 8, 8, LIGHT)
    # Performance pads under each wheel.
    for base in (30, w - 114):
        for k in range(4):
            c.rounded_rect(base + k * 22, 82, 16, 8, 2, ACCENT if k == 0 else (70, 80, 96))
    return c


def sprite_sheet():
    c = Canvas(180, 186, alpha=0.0)
    faces = {
        "button.normal": ((54, 62, 74), (36, 41, 50), (96, 108, 124), 1.0),
        "button.hover": ((64, 88, 104), (40, 56, 68), ACCENT, 1.0),
        "button.pressed": ((0, 120, 160), (0, 90, 120), ACCENT, 1.0),
        "button.disabled": ((36, 40, 46), (30, 33, 38), (40, 44, 50), 0.7),
    }
    for name, (top, bottom, border, alpha) in faces.items():
        x, y, w, h = SPRITES[name]
        c.rounded_rect(x, y, w, h, 5, border, alpha)
        inner = Canvas(w - 2, h - 2)
        inner.vertical_gradient(0, 0, w - 2, h - 2, top, bottom)
        mask = Canvas(w, h, alpha=0.0)
        mask.rounded_rect(1, 1, w - 2, h - 2, 4, (255, 255, 255))
        for py in range(1, h - 1):
            for px in range(1, w - 1):
                coverage = mask.pixels[py * w + px][3]
                colour = tuple(round(v * 255) for v in inner.pixels[(py - 1) * (w - 2) + px - 1][:3])
                c.blend(x + px, y + py, colour, coverage * alpha)
    x, y, w, h = SPRITES["progress.track"]
    c.rounded_rect(x, y, w, h, 4, EDGE)
    c.rounded_rect(x + 1, y + 1, w - 2, h - 2, 3, SURFACE_DEEP)
    x, y, w, h = SPRITES["progress.fill"]
    c.rounded_rect(x, y, w, h, 4, (0, 150, 200))
    c.rect(x + 3, y + 3, w - 6, 3, (120, 230, 255), 0.6)
    x, y, w, h = SPRITES["statusbar"]
    c.vertical_gradient(x, y, w, h, (16, 18, 22), SURFACE_DEEP)
    c.rect(x, y, w, 1, EDGE)
    return c


def ce_mark():
    w, h = 40, 28
    c = Canvas(w, h, alpha=0.0)
    grey = (200, 205, 212)
    for cx in (11, 29):
        r = 10
        # A "C": a ring open to the right.
        c.fill(lambda px, py, cx=cx: (r - 2.4) ** 2 <= (px - cx) ** 2 + (py - 14) ** 2 <= r ** 2 and
               (px - cx) < (r - 2) * math.cos(math.radians(40)) * 1.0 or
               ((r - 2.4) ** 2 <= (px - cx) ** 2 + (py - 14) ** 2 <= r ** 2 and abs(py - 14) > r * 0.64),
               (cx - r, 14 - r, cx + r, 14 + r), grey)
    c.rect(22, 13, 7, 2, grey)  # the middle bar of the "E"
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, draw in (("UpdaterBackground.png", background), ("PanelMini1.png", panel_mini),
                       ("WavecrestSpriteSheet.png", sprite_sheet), ("CE.png", ce_mark)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(draw().png())
        print("wrote", name)


if __name__ == "__main__":
    main()
