"""Entries that are not regular files, and an output file that cannot be
written.

A FIFO named like a frame would block the program until some writer came;
a link to /dev/zero would never end. Such an entry exists, so frames after
it are still counted, but it gives no part and is never opened. An output
file on a full device ends the run with 1004 and its own reason instead
of a success."""

import os

from lib.cases import SiteTestCase
from lib.responses import STATUS, WRITE_FAILED, animation, message, part


class SpecialFileTests(SiteTestCase):

    def setUp(self):
        super().setUp()
        site = self.site
        site.write_config({"Animation Path": site.host_dir(site.anim),
                           "Allow Viewer": "Mozilla"})
        self.frames = site.write_frames("f", [1, 4])
        os.mkfifo(site.path("anim", "f2.gif"))
        os.symlink("/dev/zero", site.path("anim", "F3.gif"))
        os.mkfifo(site.path("anim", "pipe.gif"))
        self.special = {site.path("anim", n) for n in ("f2.gif", "F3.gif",
                                                       "pipe.gif")}

    def serve(self, query, user_agent=b"Mozilla"):
        data, _, output = self.site.write_data_file(query, user_agent=user_agent)
        # Not run_confined: its snapshot would read the FIFOs.
        result = self.site.run([data], output=output, traced=True)
        self.assertEqual(set(result.trace.opened) & self.special, set(),
                         "an entry that is no regular file was opened")
        return result

    def test_pipe_and_device_frames_give_no_part_but_count(self):
        result = self.serve(b"f?.GIF")
        self.assertEqual(result.code, 0, result)
        self.assertEqual(result.output, animation(
            [part(".GIF", self.frames[1]), part(".GIF", self.frames[4])]))

    def test_named_and_still_pictures_that_are_pipes_give_nothing(self):
        for query, agent in ((b"f?.GIF?S=====1?E===2?Pict=pipe.gif", b"Mozilla"),
                             (b"f?.GIF?S=====1?E===2?NoAnim=f2.gif", b"Lynx"),
                             (b"f?.GIF?S=====1?E===2?NoAnim=f3.gif", b"Lynx")):
            with self.subTest(query=query):
                result = self.serve(query, agent)
                self.assertEqual((result.code, result.output), (0, STATUS))

    def test_output_on_a_full_device_reports_1004_write_failure(self):
        site = self.site
        data, content, _ = site.write_data_file(b"f?.GIF", output="/dev/full")
        result = site.run([data])
        self.assertEqual(result.code, 1004 % 256, result)
        self.assertEqual(result.stdout, WRITE_FAILED)
        self.assertNotEqual(WRITE_FAILED, message(1004))
        self.assertFalse(os.path.exists(content))
