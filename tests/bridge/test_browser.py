"""Real Chromium and Firefox windows watched while lighttpd serves paced
streams through the bridge, as the demo site is served.

The frames of the test tree are solid colours, so one pixel tells which
frame a picture shows. One page shows three pictures at once: the
demonstration (frames 1 to 13), a descending run (13 to 1) and the
demonstration from a folder whose "Allow Viewer" list animates no browser
(the still picture, frame 8). Every frame must be seen, in the order
played, each for at least half the frame interval, and the last must stay.
"""

import os
import re
import shutil
import tempfile
import time
import unittest
import urllib.error
import urllib.request

import lighttpd_site
import make_frames
from bridge_env import REPO, bridge, program
from browser import (FRAME_INTERVAL, START_PICTURES, Display, Window, assert_played, seen,
                     timeline, watch)

INTERVAL = FRAME_INTERVAL  # seconds between parts
FRAME_COUNT = 13
BACKGROUND = (17, 34, 51)
COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 0, 255),
           (0, 255, 255), (255, 255, 255), (128, 0, 0), (0, 128, 0), (0, 0, 128),
           (128, 128, 0), (128, 0, 128), (0, 128, 128)]
PICTURE_SIZE, PICTURE_GAP = 120, 150
# (name, address, frames in the order they play)
PICTURES = [
    ("demonstration", "/cgi-bin/nph-whirlo32.cgi", list(range(1, FRAME_COUNT + 1))),
    ("descending", "/cgi-bin/whirlo32.cgi?whirlo?.gif?D",
     list(range(FRAME_COUNT, 0, -1))),
    ("still", "/cgi-still/nph-whirlo32.cgi", [8]),
]
LAST_STAYS = 3 * INTERVAL  # how long the last frame is watched


def write_tree(root):
    """The page and solid-colour frames whirlo1.gif to whirlo13.gif."""
    site, frames = os.path.join(root, "site"), os.path.join(root, "frames")
    os.makedirs(site)
    os.makedirs(frames)
    for number, colour in enumerate(COLOURS, 1):
        with open(os.path.join(frames, "whirlo%d.gif" % number), "wb") as gif:
            gif.write(make_frames.gif_bytes(8, 8, [colour, (0, 0, 0)], bytes(64)))
    images = "".join(
        '<img data-src="%s" width="%d" height="%d" style="position:absolute;left:%dpx;top:20px">\n'
        % (address, PICTURE_SIZE, PICTURE_SIZE, 20 + i * PICTURE_GAP)
        for i, (_, address, _) in enumerate(PICTURES))
    with open(os.path.join(site, "index.html"), "w") as page:
        page.write('<!DOCTYPE html>\n<html><body style="margin:0;background:rgb%s">\n'
                   '%s<script>%s</script></body></html>\n'
                   % (str(BACKGROUND), images, START_PICTURES))
    return site, frames


def frame_of(pixel):
    """The frame whose colour the pixel has, or None."""
    for number, colour in enumerate(COLOURS, 1):
        if sum(abs(a - b) for a, b in zip(pixel, colour)) < 40:
            return number
    return None


def page_origin(display, timeout=30):
    """Where the page's top left corner is on the screen, once it shows: the
    start of the background's run to x (y) = 200 along row (column) 300,
    the same in two looks 0.3 s apart, as a browser paints a new page in
    pieces."""
    def run_start(is_background):
        start = len(is_background)
        while start and is_background[start - 1]:
            start -= 1
        return start if start < len(is_background) else None

    def corner():
        x = run_start([display.pixel(x, 300) == BACKGROUND for x in range(201)])
        y = run_start([display.pixel(300, y) == BACKGROUND for y in range(201)])
        return None if x is None or y is None else (x, y)

    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        found = corner()
        if found and found == last:
            return found
        last = found
        time.sleep(0.3)
    raise RuntimeError("the page never showed")


class Engine:
    """One browser window on the test page; subclasses say which."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="whirlo-browser-")
        site, frames = write_tree(cls.work)
        cls.site = lighttpd_site.Site(
            bridge(), program(), site=site,
            frames=frames, settings=[("WINCGI_FRAME_INTERVAL", str(int(INTERVAL * 1000)))])
        try:
            cls.display = Display()
        except Exception:
            cls.site.remove()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.display.close()
        cls.site.remove()
        shutil.rmtree(cls.work, ignore_errors=True)

    def watch_page(self):
        window = Window(self.engine, self.display, self.site.address)
        self.addCleanup(window.close)
        x, y = page_origin(self.display)
        points = {name: (x + 20 + i * PICTURE_GAP + PICTURE_SIZE // 2,
                         y + 20 + PICTURE_SIZE // 2)
                  for i, (name, _, _) in enumerate(PICTURES)}
        wanted = {name: frames[-1] for name, _, frames in PICTURES}

        def finished(runs):
            return all(runs[name] and runs[name][-1][0] == wanted[name]
                       and runs[name][-1][2] - runs[name][-1][1] >= LAST_STAYS
                       for name in wanted)

        return watch(self.display, points, frame_of, finished,
                     timeout=FRAME_COUNT * INTERVAL + 20)

    def test_every_frame_in_order_for_at_least_half_the_interval(self):
        runs = self.watch_page()
        for name, _, frames in PICTURES:
            print("%s %s (s after watching began): %s"
                  % (self.engine, name, timeline(seen(runs[name]))), flush=True)
            with self.subTest(picture=name):
                assert_played(self, runs[name], frames, INTERVAL, LAST_STAYS)


class Chromium(Engine, unittest.TestCase):
    engine = "chromium"


class Firefox(Engine, unittest.TestCase):
    engine = "firefox"


class DemoConfiguration(unittest.TestCase):
    """The configuration that tools/serve and these tests run is the one
    the README gives, and it keeps the CGI folder's other files private."""

    def test_readme_gives_the_snippet_the_site_runs(self):
        with open(os.path.join(REPO, "README.md")) as handle:
            readme = handle.read()
        section = readme[readme.index("### lighttpd"):]
        shown = re.search(r"\n\n((?:    .*\n)+)", section).group(1)
        expected = lighttpd_site.snippet([("/cgi-bin/", "/var/www/cgi-win")],
                                         [("WINCGI_FRAME_INTERVAL", "100")])
        self.assertEqual(re.sub(r"(?m)^    ", "", shown), expected)

    def test_only_scripts_are_sent_from_the_cgi_folder(self):
        site = lighttpd_site.Site(bridge(), program(),
                                  settings=[("WINCGI_FRAME_INTERVAL", "0")])
        self.addCleanup(site.remove)
        for name in ("pelk.ini", "whirlo32", "nph-whirlo32.cgi?x"):
            with self.subTest(name=name):
                status = fetch_status(site.address + "cgi-bin/" + name)
                self.assertEqual(status, 200 if name.endswith("?x") else 403)


def fetch_status(url):
    try:
        with urllib.request.urlopen(url, timeout=30) as response:
            response.read()
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


if __name__ == "__main__":
    unittest.main()
