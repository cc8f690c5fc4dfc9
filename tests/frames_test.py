#!/usr/bin/env python3
"""Checks for the committed demonstration frames and their generator.

The GIF reader below is written from the file format, independently of the
encoder in tools/make_frames.py, so an encoder bug cannot hide behind a
decoder sharing its mistakes.
"""

import collections
import importlib.util
import os
import random
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.path.join(REPO, "tools", "make_frames.py")
FRAMES_DIR = os.path.join(REPO, "dist", "frames")
NAMES = ["whirlo%d.gif" % n for n in range(1, 14)]


class GifError(Exception):
    pass


def lzw_decode(data, min_code_size):
    """Decode a packed GIF code stream; fails unless it ends in EOI."""
    clear = 1 << min_code_size
    eoi = clear + 1
    pos = 0          # bit position
    total_bits = len(data) * 8

    def reset():
        return [bytes([i]) for i in range(clear)] + [b"", b""], min_code_size + 1

    table, width = reset()
    prev = None
    out = bytearray()
    while True:
        if pos + width > total_bits:
            raise GifError("code stream ends without end-of-information")
        code = 0
        for i in range(width):
            byte = data[(pos + i) >> 3]
            code |= ((byte >> ((pos + i) & 7)) & 1) << i
        pos += width
        if code == clear:
            table, width = reset()
            prev = None
            continue
        if code == eoi:
            return bytes(out)
        if prev is None:
            if code >= clear:
                raise GifError("first code after clear is not a root: %d" % code)
            entry = table[code]
        elif code < len(table):
            entry = table[code]
            if len(table) < 4096:
                table.append(table[prev] + entry[:1])
        elif code == len(table) and len(table) < 4096:
            entry = table[prev] + table[prev][:1]
            table.append(entry)
        else:
            raise GifError("code %d beyond table of %d" % (code, len(table)))
        out += entry
        if len(table) == (1 << width) and width < 12:
            width += 1
        prev = code


def next_byte(buf, pos, missing):
    """The byte at pos and the position after it; GifError(missing) at the end."""
    if pos >= len(buf):
        raise GifError(missing)
    return buf[pos], pos + 1


def read_sub_blocks(buf, pos):
    data = bytearray()
    while True:
        n, pos = next_byte(buf, pos, "sub-blocks run past end of file")
        if n == 0:
            return bytes(data), pos
        data += buf[pos:pos + n]
        pos += n


def decode_gif(buf):
    """Return (width, height, palette, pixel indices) of a single-image GIF."""
    if buf[:6] not in (b"GIF87a", b"GIF89a"):
        raise GifError("bad signature %r" % buf[:6])
    sw = int.from_bytes(buf[6:8], "little")
    sh = int.from_bytes(buf[8:10], "little")
    flags = buf[10]
    pos = 13
    palette = None
    if flags & 0x80:
        n = 2 << (flags & 7)
        raw = buf[pos:pos + 3 * n]
        palette = [tuple(raw[i:i + 3]) for i in range(0, 3 * n, 3)]
        pos += 3 * n
    image = None
    while True:
        tag, pos = next_byte(buf, pos, "missing trailer")
        if tag == 0x3B:
            if pos != len(buf):
                raise GifError("%d bytes after trailer" % (len(buf) - pos))
            break
        if tag == 0x21:
            _, pos = read_sub_blocks(buf, pos + 1)
        elif tag == 0x2C:
            if image is not None:
                raise GifError("more than one image")
            left, top, w, h = (int.from_bytes(buf[pos + i:pos + i + 2], "little")
                               for i in range(0, 8, 2))
            iflags = buf[pos + 8]
            pos += 9
            if iflags & 0x80:
                raise GifError("unexpected local colour table")
            if (left, top, w, h) != (0, 0, sw, sh):
                raise GifError("image does not cover the screen")
            min_code_size = buf[pos]
            data, pos = read_sub_blocks(buf, pos + 1)
            image = lzw_decode(data, min_code_size)
        else:
            raise GifError("unknown block 0x%02x" % tag)
    if image is None or palette is None:
        raise GifError("no image or no global colour table")
    return sw, sh, palette, image


def load_generator():
    found = importlib.util.spec_from_file_location("make_frames", GENERATOR)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def committed(name):
    with open(os.path.join(FRAMES_DIR, name), "rb") as fh:
        return fh.read()


class RegenerationTest(unittest.TestCase):
    def test_regenerated_frames_match_committed(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "frames")
            subprocess.run([sys.executable, GENERATOR, out], check=True,
                           stdout=subprocess.DEVNULL)
            self.assertEqual(sorted(os.listdir(out)), sorted(NAMES))
            for name in NAMES:
                with open(os.path.join(out, name), "rb") as fh:
                    self.assertEqual(fh.read(), committed(name),
                                     "%s is stale; rerun tools/make_frames.py" % name)


class FrameContentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.frames = []
        for name in NAMES:
            buf = committed(name)
            w, h, palette, pixels = decode_gif(buf)
            cls.frames.append((name, len(buf), w, h, palette, pixels))

    def colours(self, frame):
        _, _, _, _, palette, pixels = frame
        return collections.Counter(palette[i] for i in pixels)

    def test_dimensions_pixels_and_size(self):
        for name, size, w, h, palette, pixels in self.frames:
            with self.subTest(name):
                self.assertTrue(64 <= w <= 96 and 64 <= h <= 96, (w, h))
                self.assertEqual(len(pixels), w * h)
                self.assertLessEqual(len(palette), 16)
                self.assertLess(max(pixels), len(palette))
                self.assertLess(size, 4096)

    def test_frames_differ_pairwise(self):
        for i in range(len(self.frames)):
            for j in range(i + 1, len(self.frames)):
                a, b = self.frames[i], self.frames[j]
                diff = sum(p != q for p, q in zip(a[5], b[5]))
                # A rotation step should move far more than a stray pixel.
                self.assertGreater(diff, a[2] * a[3] // 20, (a[0], b[0]))

    def test_first_twelve_share_one_colour_scheme(self):
        schemes = {frozenset(self.colours(f)) for f in self.frames[:12]}
        self.assertEqual(len(schemes), 1)

    def test_last_frame_stands_out_by_colour(self):
        earlier = set()
        for frame in self.frames[:12]:
            earlier |= set(self.colours(frame))
        last = self.frames[12]
        counts = self.colours(last)
        background = last[4][last[5][0]]       # corner pixel
        self.assertNotIn(background, earlier)
        del counts[background]
        dominant = counts.most_common(1)[0][0]
        self.assertNotIn(dominant, earlier)


class EncoderRoundTripTest(unittest.TestCase):
    """Streams the demo frames never produce: full tables, every width."""

    @classmethod
    def setUpClass(cls):
        cls.gen = load_generator()

    def round_trip(self, pixels, min_code_size):
        data = self.gen.lzw_encode(bytes(pixels), min_code_size)
        self.assertEqual(lzw_decode(data, min_code_size), bytes(pixels))

    def test_noise_overflows_table(self):
        rng = random.Random(7)
        for bits in (2, 4, 8):
            with self.subTest(bits=bits):
                self.round_trip([rng.randrange(1 << bits) for _ in range(30000)], bits)

    def test_every_length_of_runs_and_cycles(self):
        # Covers each position of the final code relative to a width change,
        # including the repeated-prefix case the decoder must infer.
        for n in range(1, 700):
            self.round_trip([1] * n, 2)
            self.round_trip([i % 3 for i in range(n)], 2)

    def test_empty_image(self):
        self.round_trip([], 4)

    def test_rejects_pixel_outside_code_size(self):
        with self.assertRaises(ValueError):
            self.gen.lzw_encode(bytes([4]), 2)

    def test_gif_container_round_trip(self):
        palette = [(i, 255 - i, 3 * i % 256) for i in range(4)]
        pixels = bytes(random.Random(3).randrange(4) for _ in range(300 * 70))
        w, h, pal, out = decode_gif(self.gen.gif_bytes(300, 70, palette, pixels))
        self.assertEqual((w, h, pal, out), (300, 70, palette, pixels))


if __name__ == "__main__":
    unittest.main()
