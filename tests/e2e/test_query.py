"""The query-string command language, seen through the responses it produces."""

import unittest

from lib.cases import SiteTestCase
from lib.responses import (DOWN, UP, animation, error_response, frame_parts,
                           part, single)


class QueryTestCase(SiteTestCase):
    configured = True

    def assertPlays(self, query, frames, order, messages=(), extension=".GIF"):
        result = self.site.request(query)
        self.assertServed(result, animation(frame_parts(frames, order, extension)),
                          messages)
        return result


class WorkedExampleTests(QueryTestCase):

    def test_up_start_end_down_loop(self):
        frames = self.site.write_frames("whirlo", range(1, 13))
        query = "whirlo?.gif?Up?Start=3?End=9?Down?Loop=2"
        self.assertPlays(query, frames, (UP + DOWN) * 3)

    def test_without_end_frames_are_counted_from_start(self):
        frames = self.site.write_frames("whirlo", range(1, 13))
        run = list(range(3, 13))
        self.assertPlays("whirlo?.gif?Up?Start=3?Down?Loop=2", frames,
                         (run + run[::-1]) * 3)


class ExtensionTests(QueryTestCase):

    def test_invalid_picture_extension_reports_1003(self):
        self.site.write_frames("x", range(1, 4))
        for query in ("X?.GI", "X?.PNG", "X?U?D", "X?", "X?.JPEG", "X?GIF", "X?.PNG?Q"):
            with self.subTest(query=query):
                result = self.site.request(query)
                self.assertOutcome(result, 1003)
                self.assertFalse(result.data_exists, "data file left behind")
                self.assertFalse(result.content_exists, "content file left behind")

    def test_accepted_extensions(self):
        kinds = {ext: self.site.write_frames("x", range(1, 4), ext)
                 for ext in (".gif", ".jpg", ".tif")}
        cases = [
            ("X?.gif", ".GIF"), ("X?.GIF", ".GIF"), ("X?.GIF89a?U", ".GIF"),
            ("X?.jpg", ".JPG"), ("X?.TIF", ".TIF"),
        ]
        for query, ext in cases:
            with self.subTest(query=query):
                self.assertPlays(query, kinds[ext.lower()], [1, 2, 3], extension=ext)

    def test_query_without_question_mark_is_the_base_name(self):
        frames = self.site.write_frames("whirlo", range(1, 6))
        self.assertPlays("whirlo", frames, [1, 2, 3, 4, 5])

    def test_query_starting_with_question_mark_has_empty_base_name(self):
        frames = self.site.write_frames("", range(1, 5))
        self.assertPlays("?.GIF", frames, [1, 2, 3, 4])


class UnknownCommandTests(QueryTestCase):

    def test_each_unknown_field_reported_in_order_then_1005(self):
        self.site.write_frames("x", range(1, 9))
        result = self.site.request("X?.GIF?Q?Start=5?Z?End=5")
        self.assertOutcome(result, 1005, [2002, 2002, 1005], error_response())

    def test_empty_field_and_digit_are_unknown_commands(self):
        frames = self.site.write_frames("x", range(1, 4))
        self.assertPlays("X?.GIF??U?7", frames, [1, 2, 3], [2002, 2002])


class FieldTests(QueryTestCase):
    x_frames = range(0, 21)

    def assertPlaysEach(self, cases):
        """Each (query, order[, messages]) plays those frames in that order."""
        for query, *expected in cases:
            with self.subTest(query=query):
                self.assertPlays(query, self.frames, *expected)

    def test_start_field(self):
        self.assertPlaysEach([
            ("X?.GIF?Start=12?End=14", [12, 13, 14]),
            ("X?.GIF?Start=123?End=14", [12, 13, 14]),
            ("X?.GIF?Start=x7?End=9", [7, 8, 9]),
            ("X?.GIF?Start=07?End=9", [7, 8, 9]),
            ("X?.GIF?Start=?End=3", [1, 2, 3]),
            ("X?.GIF?Start=0?End=2", [0, 1, 2]),
        ])

    def test_end_field(self):
        self.assertPlaysEach([
            # E reads its argument inside the following fields and still lets
            # them be parsed; the "5" field itself is an unknown command.
            ("X?.GIF?E?D?5", [5, 4, 3, 2, 1], [2002]),
            ("X?.GIF?Start=18?End=", [18, 19, 20], []),
            ("X?.GIF?Start=18?E", [18, 19, 20], []),
        ])

    def test_loop_field(self):
        up = [1, 2, 3]
        self.assertPlaysEach([
            ("X?.GIF?End=3?Loop=3", up * 4),
            ("X?.GIF?End=3?Loop=?D", up + up[::-1]),
            # L resumes at its argument position, here the end of the text.
            ("X?.GIF?End=3?D?L2?U", up[::-1]),
            ("X?.GIF?End=3?Loop=0?D", up),
        ])

    def test_wait_field(self):
        up = [1, 2, 3]
        self.assertPlaysEach([
            ("X?.GIF?End=3?Wait=5?D", up[::-1]),
            # W resumes at its argument position, which skips the D field.
            ("X?.GIF?End=3?W?D?Wait=3?U", up),
            ("X?.GIF?End=3?D?W", up[::-1]),
        ])

    def test_fifty_steps_at_most(self):
        down = [3, 2, 1]
        self.assertPlaysEach([
            # The 50th step is stored,
            ("X?.GIF?End=3?" + "?".join(["D"] * 49) + "?U", down * 49 + [1, 2, 3]),
            # and fields after 50 steps are ignored.
            ("X?.GIF?End=3?" + "?".join(["D"] * 50) + "?U?End=2?Q?NoAnim=5", down * 50),
        ])


class PictureFieldTests(QueryTestCase):
    x_frames = range(0, 7)

    def setUp(self):
        super().setUp()
        w = self.site.write_picture
        self.logo_jpg = w("logo.jpg", b"\xff\xd8logo jpeg\r\n\xff\xd9")
        self.logo_gif = w("logo.gif", b"GIF89a logo\x00\x1a\n")
        self.long_name = w("abcdefghijkl.gif", b"GIF89a twelve")
        w("abcdefghijklmn.gif", b"GIF89a fourteen")
        w("logo.giff", b"GIF89a four-letter extension")
        w("l0go.gif", b"GIF89a named like frame 0")
        w(".gif", b"GIF89a nameless")

    def test_p_numbers_and_names(self):
        query = "X?.GIF?Pict=5?Pict=L0GO?Pict=LOGO.JPG?Pict=LOGO?Pict=ABCDEFGHIJKLMN"
        result = self.site.request(query)
        self.assertServed(result, animation([
            part(".GIF", self.frames[5]), part(".GIF", self.frames[0]),
            part(".JPG", self.logo_jpg), part(".GIF", self.logo_gif),
            part(".GIF", self.long_name)]))

    def test_p_extension_is_four_characters_of_the_window(self):
        cases = [
            # .G?U: no known extension, and the U field is still a command.
            ("X?.GIF?Pict=LOGO.G?U", [part(".GIF", self.frames[n]) for n in range(1, 7)]),
            ("X?.GIF?Pict=LOGO.GIFF?Pict=LOGO.GIF", [part(".GIF", self.logo_gif)] * 2),
        ]
        for query, parts in cases:
            with self.subTest(query=query):
                self.assertServed(self.site.request(query), animation(parts))

    def test_p_at_end_of_text_ends_parsing(self):
        for query in ("X?.GIF?D?Pict=", "X?.GIF?D?P"):
            with self.subTest(query=query):
                self.assertPlays(query, self.frames, [6, 5, 4, 3, 2, 1])

    def test_n_still_picture(self):
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Viewer": "Mozilla"})
        nameless = part(".GIF", b"GIF89a nameless")
        cases = [
            ("X?.GIF?NoAnim=3", part(".GIF", self.frames[3])),
            ("X?.GIF?NoAnim=X4", part(".GIF", self.frames[4])),
            ("X?.GIF?NoAnim=LOGO.JPG", part(".JPG", self.logo_jpg)),
            ("X?.GIF?NoAnim=LOGO", part(".GIF", self.logo_gif)),
            ("X?.GIF?NoAnim=?U", nameless),
            ("X?.GIF?N", nameless),
        ]
        for query, expected in cases:
            with self.subTest(query=query):
                result = self.site.request(query, user_agent="Lynx")
                self.assertServed(result, single(expected))

    def test_n_number_takes_frame_extension(self):
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Viewer": "Mozilla"})
        jpegs = self.site.write_frames("x", range(1, 5), ".jpg")
        result = self.site.request("X?.JPG?NoAnim=3", user_agent="Lynx")
        self.assertServed(result, single(part(".JPG", jpegs[3])))


if __name__ == "__main__":
    unittest.main()
