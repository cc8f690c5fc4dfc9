"""Picture parts: content-type by extension and the file's bytes unchanged."""

import unittest

from lib.cases import SiteTestCase
from lib.responses import STATUS, animation, part, single

ALL_BYTES = bytes(range(256))


def block(size, seed):
    pattern = (b"\r\n\x1a\x00" + ALL_BYTES[seed:] + ALL_BYTES[:seed]) * (size // 260 + 1)
    return pattern[:size]


class PartTests(SiteTestCase):
    configured = True

    def test_empty_gif_is_a_37_byte_part(self):
        self.site.write_picture("zero.gif", b"")
        result = self.site.request("X?.GIF?Start=1?End=2?Pict=ZERO.GIF")
        self.assertServed(result, single(part(".GIF", b"")))
        self.assertEqual(len(result.output) - len(STATUS), 37)

    def test_sizes_around_the_copy_block(self):
        pictures = [(name, self.site.write_picture(name.lower(), block(size, i)))
                    for i, (name, size) in enumerate([
                        ("ONE.GIF", 1), ("BLKA.GIF", 32767), ("BLKB.GIF", 32768),
                        ("BLKC.GIF", 32769), ("BLKD.GIF", 65537)])]
        query = "X?.GIF?Start=1?End=2?" + "?".join("Pict=" + n for n, _ in pictures)
        result = self.site.request(query)
        self.assertServed(result, animation([part(".GIF", d) for _, d in pictures]))

    def test_bytes_pass_unchanged(self):
        # Line ends, EOF characters, NUL and even a boundary line inside the data.
        data = (b"\r\n\n\r\x1a\x00\x1a\r\r\n" + ALL_BYTES + b"\n--sometext\n"
                + b"\x00" * 3 + b"\x1a")
        self.site.write_picture("raw.gif", data)
        result = self.site.request("X?.GIF?Start=1?End=2?Pict=RAW.GIF?Pict=RAW.GIF")
        self.assertServed(result, animation([part(".GIF", data)] * 2))

    def test_content_type_by_extension(self):
        gif = self.site.write_picture("pic.gif", b"GIF89a\x00")
        jpg = self.site.write_picture("pic.jpg", b"\xff\xd8\xff\xe0\r\n\xff\xd9")
        tif = self.site.write_picture("pic.tif", b"II*\x00\x1a\n")
        empty_jpg = self.site.write_picture("empty.jpg", b"")
        query = ("X?.GIF?Start=1?End=2?Pict=PIC.GIF?Pict=PIC.JPG?Pict=PIC.TIF"
                 "?Pict=EMPTY.JPG")
        result = self.site.request(query)
        expected = [part(".GIF", gif), part(".JPG", jpg), part(".TIF", tif),
                    part(".JPG", empty_jpg)]
        self.assertServed(result, animation(expected))

    def test_unknown_extensions_write_nothing(self):
        ok = self.site.write_picture("ok.gif", b"GIF89a ok")
        for name in ("logo.png", "logo.jpe", "logo.jpeg", "logo.gi", "logo.bmp"):
            self.site.write_picture(name, b"not a part")
        query = ("X?.GIF?Start=1?End=2?Pict=LOGO.PNG?Pict=OK.GIF?Pict=LOGO.JPEG"
                 "?Pict=OK.GIF?Pict=LOGO.BMP?Pict=LOGO.GI")
        result = self.site.request(query)
        self.assertServed(result, animation([part(".GIF", ok)] * 2))

    def test_picture_names_match_any_letter_case(self):
        lower = self.site.write_picture("mixed.gif", b"GIF89a lower")
        upper = self.site.write_picture("UPPER.GIF", b"GIF89a upper")
        camel = self.site.write_picture("CamelCa.Jpg", b"\xff\xd8camel")
        result = self.site.request(
            "X?.GIF?Start=1?End=2?Pict=Mixed.gif?Pict=upper?Pict=camelca.jpg")
        self.assertServed(result, animation([
            part(".GIF", lower), part(".GIF", upper), part(".JPG", camel)]))


if __name__ == "__main__":
    unittest.main()
