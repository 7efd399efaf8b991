#!/usr/bin/env python3
"""Draws the two notification-area icons and writes them as .ico files beside this script.

TrayRunning.ico: a lit yellow light bulb with rays. TrayPaused.ico: the same bulb unlit, white,
without rays. Each file holds a 32x32 and a 16x16 image in 16 colours (4 bits per pixel, the
standard VGA palette) with a transparency mask. Run it again after changing the drawing and
commit the .ico files with it; the build only compiles them.

  make-tray-icons.py [--preview FOLDER]   also writes enlarged PNG previews into FOLDER
"""
import math
import os
import struct
import sys
import zlib

# The standard 16-colour palette, in the order the system uses.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
DARK_YELLOW, LIGHT_GREY, DARK_GREY, YELLOW, WHITE = 3, 7, 8, 11, 15
CLEAR = None  # transparent pixel

# Geometry for each size, in pixels: bulb centre and radius, the neck down to the base, the
# screw base with its stripes, the rays (inner and outer radius, width, colour) and the
# highlight on the glass (centre and radius).
GEOMETRY = {
    32: dict(cx=16.0, cy=12.5, r=7.6, neck_top=17.0, neck_bottom=21.0, neck_half=(5.0, 3.6),
             base_top=21.0, base_bottom=27.0, base_half=3.6, stripe=2.0, tip_bottom=29.5, tip_half=2.0,
             ray_in=10.0, ray_out=13.6, ray_width=2.0, ray_colour=YELLOW, highlight=(13.0, 9.5, 2.2)),
    16: dict(cx=8.0, cy=6.2, r=4.1, neck_top=8.8, neck_bottom=10.8, neck_half=(2.9, 2.1),
             base_top=10.8, base_bottom=13.8, base_half=2.1, stripe=1.0, tip_bottom=15.0, tip_half=1.1,
             ray_in=5.3, ray_out=8.0, ray_width=1.0, ray_colour=DARK_YELLOW, highlight=(6.6, 4.7, 1.1)),
}
# Rays fan out over the top half, in degrees counter-clockwise from the right; none points
# down at the base.
RAY_ANGLES = (0, 45, 90, 135, 180)


def inside_glass(g, x, y):
    if (x - g["cx"]) ** 2 + (y - g["cy"]) ** 2 <= g["r"] ** 2:
        return True
    if g["neck_top"] - 2 <= y <= g["neck_bottom"]:
        t = max(0.0, (y - g["neck_top"]) / (g["neck_bottom"] - g["neck_top"]))
        half = g["neck_half"][0] + (g["neck_half"][1] - g["neck_half"][0]) * t
        return abs(x - g["cx"]) <= half
    return False


def base_colour(g, x, y):
    if g["base_top"] <= y < g["base_bottom"] and abs(x - g["cx"]) <= g["base_half"]:
        stripe = int((y - g["base_top"]) / g["stripe"]) % 2
        return DARK_GREY if stripe else LIGHT_GREY
    if g["base_bottom"] <= y < g["tip_bottom"] and abs(x - g["cx"]) <= g["tip_half"]:
        return DARK_GREY
    return CLEAR


def on_ray(g, x, y):
    dx, dy = x - g["cx"], y - g["cy"]
    distance = math.hypot(dx, dy)
    if not g["ray_in"] <= distance <= g["ray_out"]:
        return False
    for angle in RAY_ANGLES:
        a = math.radians(angle)
        ux, uy = math.cos(a), -math.sin(a)
        along = dx * ux + dy * uy
        across = abs(-dx * uy + dy * ux)
        if along > 0 and across <= g["ray_width"] / 2:
            return True
    return False


def draw(size, lit):
    g = GEOMETRY[size]
    pixels = [[CLEAR] * size for _ in range(size)]
    fill = YELLOW if lit else WHITE
    for row in range(size):
        for col in range(size):
            x, y = col + 0.5, row + 0.5
            if inside_glass(g, x, y) and y < g["base_top"]:
                pixels[row][col] = fill
            elif base_colour(g, x, y) is not CLEAR:
                pixels[row][col] = base_colour(g, x, y)
            elif lit and on_ray(g, x, y):
                pixels[row][col] = g["ray_colour"]
    # Outline the glass: a glass pixel with an outside neighbour becomes dark.
    outline = DARK_YELLOW if lit else DARK_GREY
    glass = [[pixels[r][c] == fill and inside_glass(g, c + 0.5, r + 0.5) for c in range(size)]
             for r in range(size)]
    for row in range(size):
        for col in range(size):
            if not glass[row][col]:
                continue
            for dr, dc in ((-1, 0), (1, 0), (0, -1), (0, 1)):
                r, c = row + dr, col + dc
                if not (0 <= r < size and 0 <= c < size) or (not glass[r][c] and pixels[r][c] in (CLEAR, YELLOW)):
                    pixels[row][col] = outline
                    break
    # A highlight on the upper left of the glass.
    hx, hy, hr = g["highlight"]
    for row in range(size):
        for col in range(size):
            if glass[row][col] and pixels[row][col] == fill and (col + 0.5 - hx) ** 2 + (row + 0.5 - hy) ** 2 <= hr ** 2:
                pixels[row][col] = WHITE if lit else LIGHT_GREY
    # Yellow rays are outlined, so that they stand out on a light taskbar; the small image
    # draws its rays dark instead, for want of room.
    if lit and g["ray_colour"] == YELLOW:
        rays = [[pixels[r][c] == YELLOW and not glass[r][c] for c in range(size)] for r in range(size)]
        for row in range(size):
            for col in range(size):
                if pixels[row][col] is CLEAR and any(
                        0 <= row + dr < size and 0 <= col + dc < size and rays[row + dr][col + dc]
                        for dr, dc in ((-1, 0), (1, 0), (0, -1), (0, 1))):
                    pixels[row][col] = DARK_YELLOW
    return pixels


def image_bytes(pixels):
    """One icon image: header, palette, 4-bit colour rows and the 1-bit mask, both bottom-up."""
    size = len(pixels)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for col, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[col // 2] |= index << (4 if col % 2 == 0 else 0)
            if colour is None:
                bits[col // 8] |= 0x80 >> (col % 8)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for pixels in images:
        body = image_bytes(pixels)
        size = len(pixels)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(body), offset + len(data))
        data += body
    return directory + entries + data


def png_preview(pixels, scale, background=(212, 208, 200)):
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        line = bytearray([0])
        for colour in row:
            rgb = background if colour is None else PALETTE[colour]
            line += bytes(rgb) * scale
        raw += bytes(line) * scale

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", size * scale, size * scale, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    preview = sys.argv[2] if len(sys.argv) > 2 and sys.argv[1] == "--preview" else None
    for name, lit in (("TrayRunning", True), ("TrayPaused", False)):
        images = [draw(32, lit), draw(16, lit)]
        with open(os.path.join(here, name + ".ico"), "wb") as out:
            out.write(icon_file(images))
        if preview:
            for pixels in images:
                with open(os.path.join(preview, f"{name}{len(pixels)}.png"), "wb") as out:
                    out.write(png_preview(pixels, 256 // len(pixels)))


if __name__ == "__main__":
    main()
