#!/usr/bin/env python3
"""Generate the Whirlo-32 demonstration frames (whirlo1.gif .. whirlo13.gif).

Each frame is an 80x80, 16-colour GIF of a three-armed whirl, rotated by
360/13 degrees more than the one before.  The thirteenth frame is drawn in a
warm colour scheme so it is easy to spot in a cycle of the cool ones.

The output is byte-for-byte reproducible: only IEEE basic arithmetic and
sqrt feed the pixels (no libm trigonometry, which may differ in the last bit
between platforms), and nothing time- or random-dependent is written.

Usage: make_frames.py [OUTPUT_DIR]     (default: <repo>/dist/frames)
"""

import argparse
import math
import os
import sys

WIDTH = 80
HEIGHT = 80
FRAME_COUNT = 13
ARMS = 3
# Turns of winding from the hub to the rim.
TWIST = 1.1
SHADES = 11          # palette entries 1..SHADES form the arm gradient
RIM_INDEX = 12
HUB_INDEX = 13
RIM_INNER = 0.92     # radii as a fraction of the disc radius
HUB_RADIUS = 0.11
DISC_RADIUS = 38.0   # pixels

# GIF colour tables must have a power-of-two size; 16 keeps codes at 4 bits.
PALETTE_BITS = 4
PALETTE_SIZE = 1 << PALETTE_BITS


def _gradient(start, end, steps):
    out = []
    for i in range(steps):
        t = i / (steps - 1)
        out.append(tuple(int(round(a + (b - a) * t)) for a, b in zip(start, end)))
    return out


def _palette(background, dim, bright, rim, hub, spare):
    colours = [background] + _gradient(dim, bright, SHADES) + [rim, hub]
    colours += [spare] * (PALETTE_SIZE - len(colours))
    return colours


# Frames 1-12: ice blue whirl on night blue.
COOL_PALETTE = _palette((10, 14, 38), (22, 36, 86), (200, 246, 255),
                        (84, 104, 168), (250, 252, 255), (0, 0, 0))
# Frame 13: gold whirl on deep crimson; no colour is shared with the cool set.
WARM_PALETTE = _palette((52, 8, 22), (112, 22, 30), (255, 214, 44),
                        (206, 92, 40), (255, 248, 206), (1, 1, 1))


def _atan_unit(t):
    """atan(t) for 0 <= t <= 1 using only +, -, *, / and sqrt."""
    # Two half-angle reductions bring t below tan(pi/16) ~ 0.2, where the
    # series converges to full double precision in a dozen terms.
    for _ in range(2):
        t = t / (1.0 + math.sqrt(1.0 + t * t))
    t2 = t * t
    term = t
    total = 0.0
    for n in range(12):
        total += term / (2 * n + 1) if n % 2 == 0 else -term / (2 * n + 1)
        term *= t2
    return 4.0 * total


def _atan2(y, x):
    ax, ay = abs(x), abs(y)
    if ax == 0.0 and ay == 0.0:
        return 0.0
    if ay > ax:
        a = math.pi / 2 - _atan_unit(ax / ay)
    else:
        a = _atan_unit(ay / ax)
    if x < 0:
        a = math.pi - a
    return -a if y < 0 else a


def render_frame(number):
    """Palette indices (row-major) of frame `number`, 1-based."""
    turn = (number - 1) / FRAME_COUNT
    cx = WIDTH / 2.0
    cy = HEIGHT / 2.0
    pixels = bytearray(WIDTH * HEIGHT)
    for y in range(HEIGHT):
        dy = y + 0.5 - cy
        for x in range(WIDTH):
            dx = x + 0.5 - cx
            r = math.sqrt(dx * dx + dy * dy) / DISC_RADIUS
            if r > 1.0:
                index = 0
            elif r >= RIM_INNER:
                index = RIM_INDEX
            elif r < HUB_RADIUS:
                index = HUB_INDEX
            else:
                angle = _atan2(dy, dx) / (2 * math.pi)
                phase = ARMS * (angle - turn) + TWIST * r
                f = phase - math.floor(phase)
                # Brightest at the leading edge of each arm, fading behind it.
                index = 1 + min(SHADES - 1, int(f * SHADES))
            pixels[y * WIDTH + x] = index
    return bytes(pixels)


def frame_palette(number):
    return WARM_PALETTE if number == FRAME_COUNT else COOL_PALETTE


def lzw_encode(pixels, min_code_size):
    """GIF-flavoured LZW: packed code stream, LSB first, without sub-blocks."""
    if not 2 <= min_code_size <= 8:
        raise ValueError("min_code_size must be 2..8")
    clear = 1 << min_code_size
    eoi = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    width = min_code_size + 1
    table = {}
    next_code = eoi + 1
    emit(clear, width)
    cur = None
    for p in pixels:
        if p >= clear:
            raise ValueError("pixel %d does not fit %d bits" % (p, min_code_size))
        if cur is None:
            cur = p
            continue
        key = (cur << 8) | p
        code = table.get(key)
        if code is not None:
            cur = code
            continue
        emit(cur, width)
        if next_code < 4096:
            table[key] = next_code
            # The decoder adds this entry one code later, and widens once
            # its next free code no longer fits, so widen on the same code.
            if next_code == (1 << width) and width < 12:
                width += 1
            next_code += 1
        else:
            # Table full: start over rather than run on a frozen table.
            emit(clear, width)
            table = {}
            width = min_code_size + 1
            next_code = eoi + 1
        cur = p
    if cur is not None:
        emit(cur, width)
        # Reading `cur` makes the decoder add one more entry, which may
        # widen the code that carries end-of-information.
        if next_code < 4096 and next_code == (1 << width) and width < 12:
            width += 1
    emit(eoi, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif_bytes(width, height, palette, pixels):
    bits = max(1, (len(palette) - 1).bit_length())
    if len(palette) != 1 << bits:
        raise ValueError("palette size must be a power of two")
    if len(pixels) != width * height:
        raise ValueError("pixel count does not match dimensions")
    out = bytearray(b"GIF89a")
    out += width.to_bytes(2, "little") + height.to_bytes(2, "little")
    # Global table present, 8-bit colour resolution, unsorted, 2^bits entries.
    out.append(0x80 | 0x70 | (bits - 1))
    out += b"\x00\x00"                       # background index, aspect ratio
    for rgb in palette:
        out += bytes(rgb)
    out.append(0x2C)                         # image descriptor
    out += b"\x00\x00\x00\x00"
    out += width.to_bytes(2, "little") + height.to_bytes(2, "little")
    out.append(0x00)                         # no local table, not interlaced
    min_code_size = max(2, bits)
    out.append(min_code_size)
    out += sub_blocks(lzw_encode(pixels, min_code_size))
    out.append(0x3B)
    return bytes(out)


def frame_name(number):
    return "whirlo%d.gif" % number


def write_frames(directory):
    os.makedirs(directory, exist_ok=True)
    paths = []
    for number in range(1, FRAME_COUNT + 1):
        data = gif_bytes(WIDTH, HEIGHT, frame_palette(number), render_frame(number))
        path = os.path.join(directory, frame_name(number))
        with open(path, "wb") as fh:
            fh.write(data)
        paths.append(path)
    return paths


def main(argv=None):
    repo_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Write the 13 whirl frames.")
    parser.add_argument("directory", nargs="?",
                        default=os.path.join(repo_root, "dist", "frames"))
    args = parser.parse_args(argv)
    paths = write_frames(args.directory)
    total = sum(os.path.getsize(p) for p in paths)
    print("wrote %d frames (%d bytes) to %s" % (len(paths), total, args.directory))
    return 0


if __name__ == "__main__":
    sys.exit(main())
