"""Pictures are only read from inside the animation directory, and paths
that do not fit 255 characters are treated as missing."""

import os
import unittest

from whirlo_env import (MULTIPART_HEADER, STATUS, WhirloTestCase, animation,
                        error_response, frame_parts, part, single)

# Base names that would reach a file elsewhere, with the files a careless
# path join would find (relative to the anim folder).
ESCAPING_BASES = [
    ("SUB/F", ["sub/f%d.gif"]),
    ("../OUT", ["../out%d.gif"]),
    ("/X", ["x%d.gif"]),
    ("A\\B", ["a\\b%d.gif", "a/b%d.gif"]),
    ("..\\OUT", ["..\\out%d.gif"]),
    ("C:X", ["c:x%d.gif"]),
    ("A..B", ["a..b%d.gif"]),
]


class EscapingNameTests(WhirloTestCase):

    def setUp(self):
        super().setUp()
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Viewer": "Mozilla"})

    def plant(self, relative, data=b"GIF89a must not be read"):
        self.site.write_file(os.path.normpath(os.path.join(self.site.anim, relative)),
                             data)

    def test_base_names_leaving_the_directory(self):
        for base, patterns in ESCAPING_BASES:
            for pattern in patterns:
                for n in range(1, 5):
                    self.plant(pattern % n)
        for base, _ in ESCAPING_BASES:
            with self.subTest(base=base, end="counted"):
                result = self.site.request(base + "?.GIF")
                self.assertOutcome(result, 1005, output=error_response())
            with self.subTest(base=base, end="given"):
                result = self.site.request(base + "?.GIF?Start=1?End=3")
                self.assertServed(result, STATUS + MULTIPART_HEADER)
            with self.subTest(base=base, viewer="still"):
                result = self.site.request(base + "?.GIF?Start=1?End=3",
                                           user_agent="Lynx")
                self.assertServed(result, single())

    def test_picture_names_leaving_the_directory(self):
        ok = self.site.write_picture("ok.gif", b"GIF89a ok")
        for relative in ("sub/a.gif", "c:x.gif", "a\\b.gif", "a/b.gif"):
            self.plant(relative)
        names = ["SUB/A.GIF", "OK.GIF", "/OK.GIF", "C:X.GIF", "A\\B.GIF", "OK.GIF"]
        query = "X?.GIF?Start=1?End=2?" + "?".join("Pict=" + n for n in names)
        self.assertServed(self.site.request(query), animation([part(".GIF", ok)] * 2))

    def test_still_names_leaving_the_directory(self):
        self.site.write_picture("ok.gif", b"GIF89a ok")
        for relative in ("sub/a.gif", "c:x.gif", "a\\b.gif", "a/b.gif"):
            self.plant(relative)
        for name in ("SUB/A.GIF", "/OK.GIF", "C:X.GIF", "A\\B.GIF"):
            with self.subTest(name=name):
                result = self.site.request("X?.GIF?Start=1?End=2?NoAnim=" + name,
                                           user_agent="Lynx")
                self.assertServed(result, single())


class LongPathTests(WhirloTestCase):

    def test_frame_paths_longer_than_255_characters_are_missing(self):
        anim = self.site.dir_of_host_length(190, fill="a")
        self.site.write_config({"Animation Path": self.site.host_dir(anim)})
        # Frames 8 and 9 make 255-character paths, 10 and 11 make 256 and 257.
        base = "B" * (255 - len(self.site.host_dir(anim)) - len("9.GIF"))
        frames = self.site.write_frames(base, range(1, 12), ".GIF", folder=anim)
        cases = [
            ("?.GIF?Start=8?End=11", animation(frame_parts(frames, [8, 9]))),
            ("?.GIF?Start=8", animation(frame_parts(frames, [8, 9]))),
            ("?.GIF?Start=10?End=11", STATUS + MULTIPART_HEADER),
        ]
        for tail, expected in cases:
            with self.subTest(query=tail):
                self.assertServed(self.site.request(base + tail), expected)
        with self.subTest(query="?.GIF?Start=9"):
            result = self.site.request(base + "?.GIF?Start=9")
            self.assertOutcome(result, 1005, output=error_response())


if __name__ == "__main__":
    unittest.main()
