"""The query examples that the README, the help file and the demonstration
site show do what they say they do."""

import os
import unittest

from lib.cases import SiteTestCase
from lib.responses import UP, animation, frame_parts, part, single
from lib.tree import REPO

# query, frames played (None: a single picture, given separately)
EXAMPLES = [
    ("whirlo", list(range(1, 14))),
    ("whirlo?.gif?D", list(range(13, 0, -1))),
    ("whirlo?.gif?U?start=3?end=9?D?loop=2", (UP + UP[::-1]) * 3),
    ("whirlo?.gif?U?start=3?end=6?D?loop=2",
     (list(range(3, 7)) + list(range(6, 2, -1))) * 3),
]
SINGLES = [("whirlo?.gif?pict=13", 13), ("whirlo?.gif?pict=11", 11)]
DOCUMENTS = ["README.md", os.path.join("docs", "help", "whirlo32.txt"),
             os.path.join("site", "index.html")]


class ExampleTests(SiteTestCase):

    def setUp(self):
        super().setUp()
        self.frames = self.site.install_demo_frames()
        self.site.write_config({"Animation Path": self.site.host_dir(self.site.anim),
                                "Allow Viewer": "Mozilla"})

    def test_runs(self):
        for query, order in EXAMPLES:
            with self.subTest(query=query):
                result = self.site.request(query, user_agent="Mozilla/5.0")
                self.assertServed(result, animation(frame_parts(self.frames, order)))

    def test_single_frames_and_still_picture(self):
        for query, n in SINGLES:
            with self.subTest(query=query):
                result = self.site.request(query, user_agent="Mozilla/5.0")
                self.assertServed(result, single(part(".GIF", self.frames[n])))
        result = self.site.request("whirlo?.gif?name===12", user_agent="Lynx/2.8")
        self.assertServed(result, single(part(".GIF", self.frames[12])))

    def test_random_run_stays_in_range(self):
        result = self.site.request("whirlo?.gif?R?start=5?end=10",
                                   user_agent="Mozilla/5.0")
        self.assertEqual(result.code, 0)
        bodies = result.output.split(b"\n--sometext\n")[1:-1]
        self.assertEqual(len(bodies), 6)
        allowed = {part(".GIF", self.frames[n])[:-12] for n in range(5, 10)}
        for body in bodies:
            self.assertIn(body, allowed)

    def test_documents_show_these_queries(self):
        shown = [q for q, _ in EXAMPLES[1:3] + SINGLES[:1]] + ["whirlo?.gif?name===12"]
        for name in DOCUMENTS[:2]:
            with open(os.path.join(REPO, name), encoding="utf-8") as f:
                text = f.read()
            for query in shown:
                self.assertIn(query, text, name)


if __name__ == "__main__":
    unittest.main()
