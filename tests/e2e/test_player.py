"""Response layouts, the step table walk, frame counting and the random steps."""

import os
import time
import unittest

from lib.cases import SiteTestCase
from lib.responses import (DOWN, MULTIPART_HEADER, STATUS, UP, animation,
                           error_response, frame_parts, identify_parts, part,
                           single)


class LayoutTests(SiteTestCase):
    configured = True
    x_frames = range(1, 7)

    def test_demonstration_for_empty_query(self):
        demo = self.site.install_demo_frames()
        self.site.write_frames("whirlo", [0, 14])
        result = self.site.request("")
        self.assertServed(result, animation(frame_parts(demo, range(1, 14))))

    def test_demonstration_still_picture_is_frame_eight(self):
        demo = self.site.install_demo_frames()
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Viewer": "Mozilla"})
        result = self.site.request("", user_agent="Lynx/2.8")
        self.assertServed(result, single(part(".GIF", demo[8])))

    def test_single_picture_table_gets_layout_b(self):
        logo = self.site.write_picture("logo.jpg", b"\xff\xd8logo\r\n\xff\xd9")
        x = {n: part(".GIF", data) for n, data in self.frames.items()}
        cases = [
            ("X?.GIF?Pict=5", single(x[5])),
            ("X?.GIF?Pict=LOGO.JPG", single(part(".JPG", logo))),
            ("X?.GIF?Pict=NONE", single()),
            ("X?.GIF?Pict=5?Loop=1", animation([x[5], x[5]])),
            ("X?.GIF?Pict=4?Pict=6", animation([x[4], x[6]])),
            ("X?.GIF?Pict=4?U", animation([x[4], x[1], x[2], x[3], x[4], x[5], x[6]])),
        ]
        for query, expected in cases:
            with self.subTest(query=query):
                self.assertServed(self.site.request(query), expected)

    def test_numbered_picture_outside_range_is_played(self):
        far = self.site.write_frames("x", [42])
        result = self.site.request("X?.GIF?Start=2?End=3?Pict=42?Pict=1")
        self.assertServed(result, animation([part(".GIF", far[42]),
                                             part(".GIF", self.frames[1])]))

    def test_missing_pictures_leave_header_only(self):
        result = self.site.request("Y?.GIF?Start=1?End=3")
        self.assertServed(result, STATUS + MULTIPART_HEADER)

    def test_missing_frame_inside_explicit_range_is_skipped(self):
        os.remove(os.path.join(self.site.anim, "x4.gif"))
        result = self.site.request("X?.GIF?End=6?D")
        self.assertServed(result, animation(frame_parts(self.frames, [6, 5, 3, 2, 1])))

    def test_folder_named_like_frame_counts_but_gives_no_part(self):
        os.remove(os.path.join(self.site.anim, "x3.gif"))
        self.site.mkdir("anim", "x3.gif")
        result = self.site.request("x")
        self.assertServed(result, animation(frame_parts(self.frames, [1, 2, 4, 5, 6])))


class RepeatTests(SiteTestCase):

    def test_repeat_counts(self):
        self.site.write_config()
        frames = self.site.write_frames("x", range(1, 13))
        cases = [
            ("U?D?Loop=2", (UP + DOWN) * 3),
            ("U?Loop=2?D", UP * 3),
            ("U?Loop=12?D", UP),
            ("U?Loop=0?D", UP),
            ("D?Loop=1", DOWN * 2),
            ("U?D?Loop=1?U?Loop=5", (UP + DOWN) * 2),
            ("Loop=9", UP * 10),
        ]
        for steps, order in cases:
            with self.subTest(steps=steps):
                result = self.site.request("X?.GIF?Start=3?End=9?" + steps)
                self.assertServed(result, animation(frame_parts(frames, order)))


class CountingTests(SiteTestCase):
    configured = True

    def setUp(self):
        super().setUp()
        w = self.site.write_frames
        self.sets = {
            "a": w("a", range(1, 14)),
            "b": w("b", [1]),
            "c": w("c", [1, 2, 3, 4, 6, 7, 8, 9]),
            "d": w("d", range(1, 100)),
            "e": w("e", [1, 2, 3, 5, 6]),
            "f": w("f", range(0, 4)),
        }

    def test_counted_ranges(self):
        cases = [
            ("A", "a", range(1, 14)),
            ("D", "d", range(1, 99)),
            ("E", "e", [1, 2, 3]),
            ("F?.GIF?Start=0", "f", [0, 1, 2, 3]),
            ("C?.GIF?Start=6", "c", [6, 7, 8, 9]),
        ]
        for query, base, order in cases:
            with self.subTest(query=query):
                result = self.site.request(query)
                self.assertServed(result, animation(frame_parts(self.sets[base], order)))

    def test_empty_ranges_give_error_page(self):
        cases = [
            "B",                       # only the start frame
            "C?.GIF?Start=5",          # start frame missing
            "D?.GIF?Start=99",         # frame 99 is never counted
            "G",                       # no frames at all
            "A?.GIF?Start=4?End=4",
            "A?.GIF?Start=9?End=4",
        ]
        for query in cases:
            with self.subTest(query=query):
                result = self.site.request(query)
                self.assertOutcome(result, 1005, output=error_response())
                self.assertFalse(result.data_exists)


class RandomTests(SiteTestCase):
    configured = True
    x_frames = range(1, 13)

    def setUp(self):
        super().setUp()
        self.candidates = {n: part(".GIF", data) for n, data in self.frames.items()}

    def parts_of(self, result, header=MULTIPART_HEADER):
        self.assertEqual(result.code, 0, result)
        self.assertStdout(result, [])
        self.assertFalse(result.data_exists)
        prefix = STATUS + header
        self.assertIsNotNone(result.output)
        self.assertTrue(result.output.startswith(prefix), result.output[:100])
        keys = identify_parts(result.output[len(prefix):], self.candidates)
        self.assertIsNotNone(keys, "output is not a sequence of frame parts")
        return keys

    def assertSeededBySecond(self, query):
        """Runs of query within one clock second draw the same frames, runs
        in different seconds different ones: the generator is seeded with
        the time in whole seconds. (Its draws for a seed are pinned in the
        unit tests.)"""
        by_second = {}
        deadline = time.monotonic() + 20
        while not (len(by_second) >= 2
                   and any(len(runs) >= 2 for runs in by_second.values())):
            self.assertLess(time.monotonic(), deadline,
                            "no two runs in one second and one in another")
            result = self.site.request(query)
            keys = tuple(self.parts_of(result))
            if result.t_before == result.t_after:
                by_second.setdefault(result.t_before, []).append(keys)
        for second, runs in by_second.items():
            self.assertEqual(len(set(runs)), 1, "second %d drew %r" % (second, runs))
        firsts = [runs[0] for runs in by_second.values()]
        self.assertEqual(len(set(firsts)), len(firsts),
                         "the same frames in different seconds: %r" % by_second)

    def test_random_runs(self):
        # (query, parts, the range drawn from)
        cases = [("X?.GIF?R?Start=3?End=9", 7, range(3, 9)),
                 ("X?.GIF?Start=2?R", 11, range(2, 12))]
        for query, count, drawn in cases:
            with self.subTest(query=query):
                result = self.site.request(query)
                keys = self.parts_of(result)
                self.assertEqual(len(keys), count)
                self.assertTrue(all(k in drawn for k in keys), keys)
                self.assertSeededBySecond(query)

    def test_repeated_random_run_reseeds(self):
        result = self.site.request("X?.GIF?R?Loop=1?Start=3?End=9")
        keys = self.parts_of(result)
        self.assertEqual(len(keys), 14)
        self.assertTrue(all(3 <= k <= 8 for k in keys), keys)
        if result.t_before == result.t_after:
            self.assertEqual(keys[:7], keys[7:])

    def test_one_random_frame_is_a_single_picture(self):
        result = self.site.request("X?.GIF?O?Start=3?End=9")
        keys = self.parts_of(result, header=b"")
        self.assertEqual(len(keys), 1)
        self.assertIn(keys[0], range(3, 9))

    def test_one_random_frame_repeated(self):
        result = self.site.request("X?.GIF?O?Loop=3?Start=3?End=9")
        keys = self.parts_of(result)
        self.assertEqual(len(keys), 4)
        self.assertTrue(all(3 <= k <= 8 for k in keys), keys)
        if result.t_before == result.t_after:
            self.assertEqual(len(set(keys)), 1, keys)


if __name__ == "__main__":
    unittest.main()
