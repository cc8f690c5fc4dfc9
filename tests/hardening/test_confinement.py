"""A query cannot make the program read a file outside the animation
directory, nor write anywhere but the output file.

Sentinel pictures lie beside and above the animation directory; every
escaping spelling of a base name, a P (picture) name and an N (still) name
is tried, and the responses must never hold a sentinel's bytes. Under
strace the runs must not even look a sentinel's path up, and must open for
reading no file but the data file, the configuration and the animation
directory's pictures (and the system's own libraries)."""

import os

from hardening_env import (MULTIPART, STATUS, HardeningTestCase, frame_bytes,
                           part)

SENTINEL = b"GIF89a SENTINEL: must never be sent"

# Spellings of a step out of the folder, as a query may write them (the
# parser uppercases letters and decodes nothing).
DOTDOT = ["..", "../", "..\\", "../../", "..//", "./../", ".\\..\\", "....//",
          ".../", "..;/", ". ./", "%2E%2E/", "%2e%2e%2f", ".%2E/", "..%5C",
          "\xc0\xae\xc0\xae/", "..\t/", "/", "//", "\\", "\\\\"]
SYSTEM_PREFIXES = ("/proc/", "/sys/", "/dev/", "/lib", "/usr/lib", "/etc/ld.so")


class ConfinementTests(HardeningTestCase):

    def setUp(self):
        super().setUp()
        site = self.site
        self.frames = site.write_frames("f", [1, 2, 3])
        self.ok = frame_bytes("ok.gif")
        site.write(site.path("anim", "ok.gif"), self.ok)
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
                site.write(path, SENTINEL)
                self.sentinels.append(path)

    def serve(self, query, user_agent=b"Mozilla", anim=True):
        if anim:
            self.site.standard_config(b"Allow Viewer=Mozilla\r\n")
        else:
            self.site.write_config(b"[Whirl]\r\nAllow Viewer=Mozilla\r\n")
        data, content, output = self.site.data_file(query.encode("latin-1"),
                                                    user_agent=user_agent)
        result = self.run_request(data, content, output)
        self.assertGreaterEqual(result.code, 0)
        if result.output is not None:
            self.assertNotIn(SENTINEL, result.output, "a sentinel was sent")
        self.assert_only_allowed_reads(result, data)
        return result

    def assert_only_allowed_reads(self, result, data):
        root, anim = self.site.root, self.site.path("anim")
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
        names += [self.site.root.upper() + "/OUT", self.site.root + "/OUT",
                  "/" + self.site.root.upper() + "/OUT", "C:OUT", "C:/OUT",
                  "C:\\OUT", "Z:" + self.site.root.upper() + "/OUT",
                  "Z:\\" + self.site.root[1:].replace("/", "\\") + "\\OUT",
                  "ANIM/../OUT", "SUB/../../OUT", "\\\\.\\C:\\OUT"]
        return names

    def test_base_names_cannot_leave_the_directory(self):
        for name in self.escaping_names():
            with self.subTest(base=name, end="counted"):
                # Counting finds no frame, so the range is empty.
                result = self.serve(name + "?.GIF")
                self.assertResponse(result, 1005, result.output, [1005])
            with self.subTest(base=name, end="given"):
                result = self.serve(name + "?.GIF?S=====1?E===3")
                self.assertResponse(result, 0, STATUS + MULTIPART)
            with self.subTest(base=name, viewer="still"):
                result = self.serve(name + "?.GIF?S=====1?E===3", user_agent=b"Lynx")
                self.assertResponse(result, 0, STATUS)

    def test_picture_and_still_names_cannot_leave_the_directory(self):
        # At most 12 characters reach a name: the short escapes.
        names = [step + rest for step in DOTDOT
                 for rest in ("PIC.GIF", "OUT1.GIF", "F1.GIF", "OK.GIF")]
        names += ["C:PIC.GIF", "C:\\PIC.GIF", "/PIC.GIF", "\\PIC.GIF",
                  "..", "../", "X./..", "OK./../", ".../OK"]
        names = [n[:12] for n in names]
        for anim in (True, False):
            for name in names:
                # "%2E..." has a digit second: it names frame 2, not a file.
                frame = [part(".GIF", self.frames[2])] if anim and name[1] == "2" else []
                with self.subTest(pict=name, anim=anim):
                    result = self.serve("F?.GIF?S=====1?E===3?Pict=" + name +
                                        "?P====OK.GIF", anim=anim)
                    ok = [part(".GIF", self.ok)] if anim else []
                    self.assertResponse(result, 0, STATUS + MULTIPART + b"".join(frame + ok))
                with self.subTest(still=name, anim=anim):
                    result = self.serve("F?.GIF?S=====1?E===3?NoAnim=" + name,
                                        user_agent=b"Lynx", anim=anim)
                    self.assertResponse(result, 0, STATUS + b"".join(frame))

    def test_names_inside_the_directory_are_still_served(self):
        # The guard refuses escapes, not ordinary names of any letter case.
        result = self.serve("f?.gif?S=====1?E===3?U?P====ok.gif?P====OK")
        self.assertResponse(result, 0, STATUS + MULTIPART + b"".join(
            [part(".GIF", self.frames[n]) for n in (1, 2, 3)] + [part(".GIF", self.ok)] * 2))

    def test_nothing_outside_is_written_for_an_escaping_output_query(self):
        # Query text never names a file to write: only "Output File" does.
        result = self.serve("../../OUT?.GIF?P====../X.GIF?N======../Y.GIF")
        self.assertEqual(result.trace.changed, [])
        self.assertFalse(os.path.exists(self.site.path("x.gif")))
        self.assertFalse(os.path.exists(self.site.path("y.gif")))
