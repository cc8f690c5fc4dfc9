"""Malformed data files, configuration files and query strings, end to end.

Every case has a defined exit code and response, and every run leaves the
data file and the content file deleted and writes nothing but the output
file (SiteTestCase.run_confined checks that for each)."""

import os
import random

from lib.cases import SiteTestCase
from lib.responses import (ERROR_PAGE, MULTIPART_HEADER, STATUS, animation,
                           message, part)

MB = 1024 * 1024


def binary(size, seed):
    """Bytes of every value, without a line that could open a section."""
    data = bytearray(random.Random(seed).getrandbits(8) for _ in range(size))
    return bytes(data).replace(b"[", b"{")


def junk_lines(size, prefix=b"k"):
    line = prefix + b"=" + b"x" * 70 + b"\r\n"
    return line * (size // len(line))


class FramesTestCase(SiteTestCase):
    """With the animation f1..f3.gif and the demonstration frames
    whirlo1..13.gif, and the default pelk.ini unless not configured."""
    configured = True

    def setUp(self):
        super().setUp()
        self.f = self.site.write_frames("f", [1, 2, 3])
        self.whirlo = self.site.write_frames("whirlo", range(1, 14))

    def up(self):
        return animation(part(".GIF", self.f[n]) for n in (1, 2, 3))

    def demo(self):
        return animation(part(".GIF", self.whirlo[n]) for n in range(1, 14))


class MalformedDataFileTests(FramesTestCase):

    def run_text(self, build, number, response, readable_content=True, output=None):
        """Runs a data file whose text `build` makes from the content and
        output paths; `response` None means no output file. A content file
        that the text does not name, or names where the reader cannot see
        it (not readable_content), stays."""
        data, content, default_output = self.site.request_paths()
        output = output or default_output
        self.site.write_file(content, b"body\r\n")
        text = build(content.encode(), output.encode())
        self.site.write_file(data, text)
        deleted = readable_content and content.encode() in text
        result = self.run_confined(data, content if deleted else None, output)
        self.assertOutcome(result, number, output=response)
        return result

    @staticmethod
    def sections(content, output, query=b"f?.GIF"):
        return (b"[CGI]\r\nQuery String=" + query + b"\r\nContent File=" + content +
                b"\r\n[System]\r\nOutput File=" + output + b"\r\n")

    def test_empty_binary_and_sectionless_files_have_no_output_file(self):
        cases = {
            "empty": lambda c, o: b"",
            "binary": lambda c, o: binary(64 * 1024, 1),
            "binary with NUL runs": lambda c, o: (b"\x00" * 4096 + binary(4096, 2)) * 8,
            "keys without any section": lambda c, o: (
                b"Query String=f?.GIF\r\nContent File=" + c + b"\r\nOutput File=" + o),
            "every key missing": lambda c, o: b"[CGI]\r\n[Extra Headers]\r\n[System]\r\n",
            "keys in other sections": lambda c, o: (
                b"[cgi x]\r\nOutput File=" + o + b"\r\n[Sys]\r\nOutput File=" + o),
            "NUL inside the key": lambda c, o: (
                b"[System]\r\nOutput\x00 File=" + o + b"\r\n"),
            "NUL before the value": lambda c, o: (
                b"[System]\r\nOutput File=\x00" + o + b"\r\n"),
            "a header with no closing bracket": lambda c, o: (
                b"[System\r\nOutput File=" + o + b"\r\n"),
            "output file is a folder": lambda c, o: (
                b"[System]\r\nOutput File=" + self.site.path("temp").encode()),
            "output path of 1 MB in a missing folder": lambda c, o: (
                b"[System]\r\nOutput File=" + self.site.path("temp").encode() +
                b"/none/" + b"o" * MB + b"\r\n"),
        }
        for name, build in cases.items():
            with self.subTest(case=name):
                self.run_text(build, 1004, None, readable_content=name not in (
                    "keys without any section", "keys in other sections"))

    def test_requests_hidden_in_malformed_files_are_served(self):
        up, demo = self.up(), self.demo()
        cases = {
            "binary, then the sections": (
                lambda c, o: binary(256 * 1024, 3) + b"\r\n" + self.sections(c, o), up),
            "6 MB of key lines first": (
                lambda c, o: b"[Junk]\r\n" + junk_lines(6 * MB) + self.sections(c, o), up),
            "6 MB of key lines after": (
                lambda c, o: self.sections(c, o) + b"[Junk]\r\n" + junk_lines(6 * MB), up),
            "3 MB line without line end first": (
                lambda c, o: b"x" * (3 * MB) + b"\n" + self.sections(c, o), up),
            "a 4 MB section of keys that shadow nothing": (
                lambda c, o: self.sections(c, o).replace(
                    b"[System]\r\n", b"[System]\r\n" + junk_lines(4 * MB, b"Output Fil")),
                up),
            "NUL ends the query": (
                lambda c, o: self.sections(c, o, b"f?.GIF\x00?S=====9?D"), up),
            "CR-only line ends": (
                lambda c, o: self.sections(c, o).replace(b"\r\n", b"\r"), up),
            "LF-only line ends and blank runs": (
                lambda c, o: self.sections(c, o).replace(b"\r\n", b"\n\n\n"), up),
            "query with no line end at the end": (
                lambda c, o: b"[System]\r\nOutput File=" + o + b"\r\n[CGI]\r\n"
                             b"Content File=" + c + b"\r\nQuery String=f?.GIF", up),
            "byte-order mark hides [CGI]: the demonstration": (
                lambda c, o: b"\xef\xbb\xbf" + self.sections(c, o), demo),
            "NUL in the section name hides [CGI]": (
                lambda c, o: self.sections(c, o).replace(b"[CGI]", b"[CGI\x00]"), demo),
            "only the output file": (
                lambda c, o: b"[System]\r\nOutput File=" + o, demo),
        }
        hidden = ("byte-order mark hides [CGI]: the demonstration",
                  "NUL in the section name hides [CGI]", "only the output file")
        for name, (build, response) in cases.items():
            with self.subTest(case=name):
                self.run_text(build, 0, response, readable_content=name not in hidden)

    def test_long_values_are_cut_not_overrun(self):
        # A query of 1 MB arrives as 254 letters: a frame name too long for a
        # path, so no frame exists.
        self.run_text(lambda c, o: self.sections(c, o, b"a" * MB), 1005,
                      STATUS + ERROR_PAGE)
        # 254 characters of it survive, the extension beyond them is lost.
        self.run_text(lambda c, o: self.sections(c, o, b"f" * 300 + b"?.GIF"), 1005,
                      STATUS + ERROR_PAGE)

    def test_output_path_of_1_mb_is_cut_to_254_characters(self):
        long_path = self.site.path("temp").encode() + b"/" + b"o" * MB
        self.run_text(lambda c, o: self.sections(c, long_path), 0, self.up(),
                      output=long_path[:254].decode())

    def test_data_file_that_is_a_folder(self):
        data, _, _ = self.site.request_paths()
        self.site.write_file(data + "/inside", b"x")
        result = self.run_confined(data, None, None)
        self.assertOutcome(result, 1004)


class MalformedConfigurationTests(FramesTestCase):
    QUERY = b"f?.GIF?S=====1?E===3"
    configured = False

    def setUp(self):
        super().setUp()
        self.anim = self.site.path("anim").encode() + b"/"

    def serve(self, config, number, response, folder="cgi", referer=b"http://ok/"):
        if config is not None:
            self.site.write_config(text=config, folder=self.site.path(folder))
        data, content, output = self.site.write_data_file(
            self.QUERY, referer=referer, user_agent=b"Mozilla/5.0")
        result = self.run_confined(data, content, output)
        self.assertOutcome(result, number, output=response)

    def test_unreadable_configurations_give_the_defaults(self):
        # The defaults: every referer and viewer allowed, pictures looked up
        # in the current directory, where there are none.
        nothing = STATUS + MULTIPART_HEADER
        cases = {
            "empty": b"",
            "binary": binary(64 * 1024, 4),
            "NUL bytes only": b"\x00" * 10000,
            "keys without a section": b"Animation Path=" + self.anim + b"\r\nAllow Only=z",
            "every key missing": b"[Whirl]\r\n",
            "6 MB without the section": b"[Other]\r\n" + junk_lines(6 * MB),
            "NUL inside the section name": b"[Wh\x00irl]\r\nAnimation Path=" + self.anim,
            "animation path of 1 MB": b"[Whirl]\r\nAnimation Path=" + self.anim +
                                      b"x" * MB + b"\r\n",
        }
        for name, config in cases.items():
            with self.subTest(case=name):
                self.serve(config, 0, nothing)
        with self.subTest(case="pelk.ini is a folder"):
            os.unlink(self.site.path("cgi", "pelk.ini"))
            self.site.write_file(self.site.path("cgi", "pelk.ini", "x"), b"")
            self.serve(None, 0, nothing)

    def test_malformed_configuration_in_the_windows_directory(self):
        self.serve(binary(32 * 1024, 5), 0, STATUS + MULTIPART_HEADER, folder="windows")

    def test_settings_found_in_malformed_configurations(self):
        up = self.up()
        cases = {
            "after 6 MB of lines": b"[Junk]\r\n" + junk_lines(6 * MB) +
                                   b"[WHIRL]\r\nAnimation Path=" + self.anim,
            "before 6 MB of lines": b"[whirl]\nAnimation Path=" + self.anim + b"\n" +
                                    junk_lines(6 * MB),
            "NUL after the value": b"[Whirl]\r\nAnimation Path=" + self.anim +
                                   b"\x00../\r\nAllow Only=\x00zzz\r\n",
            "binary around the section": binary(8192, 6) + b"\r\n[Whirl]\r\n"
                                        b"Animation Path=" + self.anim + b"\r\n" +
                                        binary(8192, 7),
        }
        for name, config in cases.items():
            with self.subTest(case=name):
                self.serve(config, 0, up)

    def test_overlong_allow_only_is_cut_and_refuses(self):
        config = b"[Whirl]\r\nAllow Only=" + b"z" * MB + b",ok\r\n"
        self.serve(config, 2001, None)
        # The same list within 254 characters lets the referer in.
        self.serve(b"[Whirl]\r\nAnimation Path=" + self.anim +
                   b"\r\nAllow Only=" + b"z" * 200 + b",ok\r\n", 0, self.up())


# Bytes that the reader removes from the ends of a value, or that end it.
CUT_OR_TRIMMED = {0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1A, 0x20}
STEP_LETTERS = b"UDROSELPNW"


class QueryOfEveryByteTests(FramesTestCase):
    """Queries of 254 bytes of each byte value."""

    def serve(self, query):
        data, content, output = self.site.write_data_file(query)
        # strace for a sample only: the snapshot covers every run.
        return self.run_confined(data, content, output, traced=query[0] % 16 == 0)

    def test_a_base_name_of_254_equal_bytes(self):
        for value in range(256):
            with self.subTest(byte=value):
                result = self.serve(bytes([value]) * 254)
                if value in CUT_OR_TRIMMED:
                    # An empty query: the demonstration.
                    self.assertOutcome(result, 0, output=self.demo())
                elif value == ord("?"):
                    self.assertOutcome(result, 1003)
                else:
                    # No frame of a 254-character name fits a path.
                    self.assertOutcome(result, 1005, output=STATUS + ERROR_PAGE)

    def test_commands_of_247_equal_bytes(self):
        head = b"f?.GIF?"
        for value in range(256):
            with self.subTest(byte=value):
                result = self.serve(head + bytes([value]) * (254 - len(head)))
                self.assertEqual(result.code, 0, repr(result))
                letter = bytes([value]).upper()
                if value in CUT_OR_TRIMMED or letter in STEP_LETTERS:
                    count = 0
                elif value == ord("?"):
                    count = 254 - len(head)  # every "?" an empty field
                else:
                    count = 1  # one field, the rest of it skipped
                self.assertEqual(result.stdout, message(2002) * count)
                self.assertTrue(result.output.startswith(STATUS), repr(result))
                if value in CUT_OR_TRIMMED or letter in b"USELNW":
                    self.assertEqual(result.output, self.up())
