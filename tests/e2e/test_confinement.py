"""A query cannot make the program read a file outside the animation
directory, nor write anywhere but the output file, and paths that do not
fit 255 characters are treated as missing.

Sentinel pictures lie beside and above the animation directory, and inside
it under names a careless path join would reach; every escaping spelling
of a base name, a P (picture) name and an N (still) name is tried, and the
responses must never hold a sentinel's bytes. Natively the runs are traced:
they must not even look an outside sentinel's path up, and must open for
reading no file but the data file, the configuration and the animation
directory's pictures (and the system's own libraries)."""

import os
import unittest

from lib.cases import SiteTestCase
from lib.responses import (MULTIPART_HEADER, STATUS, animation, error_response,
                           frame_parts, part, single)

SENTINEL = b"GIF89a SENTINEL: must never be sent"

# Spellings of a step out of the folder, as a query may write them (the
# parser uppercases letters and decodes nothing).
DOTDOT = ["..", "../", "..\\", "../../", "..//", "./../", ".\\..\\", "....//",
          ".../", "..;/", ". ./", "%2E%2E/", "%2e%2e%2f", ".%2E/", "..%5C",
          "\xc0\xae\xc0\xae/", "..\t/", "/", "//", "\\", "\\\\"]
SYSTEM_PREFIXES = ("/proc/", "/sys/", "/dev/", "/lib", "/usr/lib", "/etc/ld.so")

# Base names whose frames, joined carelessly, would be these files of the
# animation directory.
INSIDE_BASES = [
    ("SUB/F", ["sub/f%d.gif"]),
    ("/X", ["x%d.gif"]),
    ("A\\B", ["a\\b%d.gif", "a/b%d.gif"]),
    ("C:X", ["c:x%d.gif"]),
    ("A..B", ["a..b%d.gif"]),
]
# Picture names of the same kind.
INSIDE_PICTURES = {"SUB/A.GIF": "sub/a.gif", "C:X.GIF": "c:x.gif",
                   "A\\B.GIF": "a\\b.gif", "A/B.GIF": "a/b.gif"}


class ConfinementTests(SiteTestCase):

    def setUp(self):
        super().setUp()
        site = self.site
        self.frames = site.write_frames("f", [1, 2, 3])
        self.ok = site.write_picture("ok.gif", b"GIF89a ok")
        self.sentinels = []
        # Beside the animation directory, above it, in the current directory
        # (the animation directory when none is configured) and in a
        # sibling: each reachable by some escaping name.
        for folder in ("", "cgi", "temp", "sub"):
            names = ["out1.gif", "out2.gif", "out3.gif", "pic.gif", "OUT1.GIF"]
            if folder != "cgi":
                names += ["f1.gif", "ok.gif"]
            for name in names:
                path = site.path(folder, name)
                site.write_file(path, SENTINEL)
                self.sentinels.append(path)
        inside = [p % n for _, patterns in INSIDE_BASES for p in patterns
                  for n in range(1, 5)] + list(INSIDE_PICTURES.values())
        for relative in inside:
            site.write_file(os.path.join(site.anim, relative), SENTINEL)

    def serve(self, query, user_agent="Mozilla", anim=True):
        entries = {"Animation Path": self.site.host_dir(self.site.anim) if anim else None,
                   "Allow Viewer": "Mozilla"}
        self.site.write_config(entries)
        data, content, output = self.site.write_data_file(query, user_agent=user_agent)
        result = self.run_confined(data, content, output)
        if result.output is not None:
            self.assertNotIn(SENTINEL, result.output, "a sentinel was sent")
        if result.trace:
            self.assert_only_allowed_reads(result, data)
        return result

    def assert_only_allowed_reads(self, result, data):
        root, anim = self.site.root, self.site.anim
        looked = set(result.trace.looked_at)
        touched = looked & {os.path.normpath(p) for p in self.sentinels}
        self.assertEqual(touched, set(), "sentinel paths looked up")
        for path in result.trace.opened:
            if path.startswith(root + os.sep):
                self.assertTrue(
                    path.startswith(anim + os.sep) or path == data or
                    os.path.basename(path) == "pelk.ini",
                    "read outside the animation directory: %s" % path)
            else:
                self.assertTrue(path.startswith(SYSTEM_PREFIXES),
                                "read outside the installation: %s" % path)

    def escaping_names(self):
        """Names that reach a sentinel (or would, joined carelessly)."""
        names = []
        for step in DOTDOT:
            names += [step + "OUT", step + "CGI/OUT", step + "TEMP/OUT"]
        # Absolute paths: uppercased by the parser, yet a case-insensitive
        # lookup would find them.
        root = self.site.root
        names += [root.upper() + "/OUT", root + "/OUT", "/" + root.upper() + "/OUT",
                  "C:OUT", "C:/OUT", "C:\\OUT", "Z:" + root.upper() + "/OUT",
                  "Z:\\" + root[1:].replace("/", "\\") + "\\OUT",
                  "ANIM/../OUT", "SUB/../../OUT", "\\\\.\\C:\\OUT"]
        return names + [base for base, _ in INSIDE_BASES]

    def test_base_names_cannot_leave_the_directory(self):
        for name in self.escaping_names():
            with self.subTest(base=name, end="counted"):
                # Counting finds no frame, so the range is empty.
                result = self.serve(name + "?.GIF")
                self.assertOutcome(result, 1005, output=error_response())
            with self.subTest(base=name, end="given"):
                result = self.serve(name + "?.GIF?S=====1?E===3")
                self.assertOutcome(result, 0, output=STATUS + MULTIPART_HEADER)
            with self.subTest(base=name, viewer="still"):
                result = self.serve(name + "?.GIF?S=====1?E===3", user_agent="Lynx")
                self.assertOutcome(result, 0, output=single())

    def test_picture_and_still_names_cannot_leave_the_directory(self):
        # At most 12 characters reach a name: the short escapes.
        names = [step + rest for step in DOTDOT
                 for rest in ("PIC.GIF", "OUT1.GIF", "F1.GIF", "OK.GIF")]
        names += ["C:PIC.GIF", "C:\\PIC.GIF", "/PIC.GIF", "\\PIC.GIF",
                  "..", "../", "X./..", "OK./../", ".../OK"] + list(INSIDE_PICTURES)
        names = [n[:12] for n in names]
        for anim in (True, False):
            for name in names:
                # "%2E..." has a digit second: it names frame 2, not a file.
                frame = frame_parts(self.frames, [2]) if anim and name[1] == "2" else []
                with self.subTest(pict=name, anim=anim):
                    result = self.serve("F?.GIF?S=====1?E===3?Pict=" + name +
                                        "?P====OK.GIF", anim=anim)
                    ok = [part(".GIF", self.ok)] if anim else []
                    self.assertOutcome(result, 0, output=animation(frame + ok))
                with self.subTest(still=name, anim=anim):
                    result = self.serve("F?.GIF?S=====1?E===3?NoAnim=" + name,
                                        user_agent="Lynx", anim=anim)
                    self.assertOutcome(result, 0, output=single(b"".join(frame)))

    def test_escaping_picture_names_among_others_are_dropped(self):
        names = ["SUB/A.GIF", "OK.GIF", "/OK.GIF", "C:X.GIF", "A\\B.GIF", "OK.GIF"]
        query = "X?.GIF?Start=1?End=2?" + "?".join("Pict=" + n for n in names)
        result = self.serve(query)
        self.assertServed(result, animation([part(".GIF", self.ok)] * 2))

    def test_names_inside_the_directory_are_still_served(self):
        # The guard refuses escapes, not ordinary names of any letter case.
        result = self.serve("f?.gif?S=====1?E===3?U?P====ok.gif?P====OK")
        self.assertOutcome(result, 0, output=animation(
            frame_parts(self.frames, [1, 2, 3]) + [part(".GIF", self.ok)] * 2))

    def test_nothing_outside_is_written_for_an_escaping_output_query(self):
        # Query text never names a file to write: only "Output File" does.
        result = self.serve("../../OUT?.GIF?P====../X.GIF?N======../Y.GIF")
        if result.trace:
            self.assertEqual(result.trace.changed, [])
        self.assertFalse(os.path.exists(self.site.path("x.gif")))
        self.assertFalse(os.path.exists(self.site.path("y.gif")))


class LongPathTests(SiteTestCase):

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
