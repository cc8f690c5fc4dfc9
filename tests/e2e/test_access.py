"""The "Allow Only" referer list and the "Allow Viewer" list."""

import unittest

from lib.cases import SiteTestCase
from lib.responses import animation, error_response, frame_parts, part, single

# List value (None: no key): (values on the list, values off it). How an
# item matches is tabled in tests/unit/access_list_test.cc; these runs show
# that each list reaches the program from pelk.ini and is matched against
# its own field of the data file.
REFERER_LISTS = {
    None: (["http://www.other.org/"], []),
    "example.com": (["http://www.example.com/page.html"],
                    ["http://www.other.org/page.html"]),
}
VIEWER_LISTS = {
    None: (["Lynx/2.8"], []),
    "Mozilla": (["Mozilla/2.0 (Win95; I)"], ["Lynx/2.8 libwww"]),
}


def list_cases(lists):
    return [(value, request, request in on)
            for value, (on, off) in lists.items() for request in on + off]


class AccessTestCase(SiteTestCase):
    x_frames = range(1, 5)

    def configure(self, **keys):
        entries = {"Animation Path": self.site.host_dir(self.site.anim)}
        entries.update({k.replace("_", " ").title(): v for k, v in keys.items()})
        self.site.write_config(entries)


class RefererTests(AccessTestCase):

    def test_referer_list(self):
        served = animation(frame_parts(self.frames, [1, 2, 3, 4]))
        for allow_only, referer, allowed in list_cases(REFERER_LISTS):
            with self.subTest(allow_only=allow_only, referer=referer):
                self.configure(allow_only=allow_only)
                result = self.site.request("x", referer=referer)
                if allowed:
                    self.assertServed(result, served)
                else:
                    self.assertOutcome(result, 2001)
                    self.assertFalse(result.data_exists, "data file left behind")
                    self.assertFalse(result.content_exists, "content file left behind")

    def test_referer_without_key_in_data_file_is_allowed(self):
        self.configure(allow_only="example.com")
        result = self.site.request("x", referer=None)
        self.assertServed(result, animation(frame_parts(self.frames, [1, 2, 3, 4])))


class ViewerTests(AccessTestCase):

    def test_viewer_list(self):
        animated = animation(frame_parts(self.frames, [1, 2, 3, 4]))
        still = single(frame_parts(self.frames, [1])[0])
        for allow_viewer, agent, animates in list_cases(VIEWER_LISTS):
            with self.subTest(allow_viewer=allow_viewer, user_agent=agent):
                self.configure(allow_viewer=allow_viewer)
                result = self.site.request("x", user_agent=agent)
                self.assertServed(result, animated if animates else still)

    def still_viewer(self, query):
        self.configure(allow_viewer="Mozilla")
        return self.site.request(query, user_agent="Lynx/2.8")

    def test_still_picture_is_frame_one_whatever_the_steps(self):
        result = self.still_viewer("X?.GIF?Start=2?End=4?D?Pict=3?Loop=2")
        self.assertServed(result, single(frame_parts(self.frames, [1])[0]))

    def test_still_picture_named_by_n(self):
        logo = self.site.write_picture("logo.jpg", b"\xff\xd8JPEG\r\n\x1a\x00\xff\xd9")
        cases = [
            ("X?.GIF?NoAnim=LOGO.JPG?U", part(".JPG", logo)),
            ("X?.GIF?NoAnim=3", part(".GIF", self.frames[3])),
        ]
        for query, expected in cases:
            with self.subTest(query=query):
                self.assertServed(self.still_viewer(query), single(expected))

    def test_still_picture_takes_frame_extension(self):
        jpegs = self.site.write_frames("x", range(1, 4), ".jpg")
        result = self.still_viewer("X?.JPG")
        self.assertServed(result, single(part(".JPG", jpegs[1])))

    def test_missing_still_picture_gives_status_line_only(self):
        result = self.still_viewer("X?.GIF?NoAnim=NONE")
        self.assertServed(result, single())

    def test_empty_range_gives_error_page_to_still_viewer(self):
        result = self.still_viewer("X?.GIF?Start=3?End=3")
        self.assertOutcome(result, 1005, output=error_response())


if __name__ == "__main__":
    unittest.main()
