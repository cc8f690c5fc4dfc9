"""Headless Chromium against the demo server: with pacing the picture steps
through the frames and ends on the last; a browser that is not on the
"Allow Viewer" list is shown the still picture. Screenshots of the picture
are matched against screenshots of the frame files themselves."""

import os
import re
import subprocess
import sys
import time
import unittest
import urllib.parse

from bridge_env import REPO, stop
from browser import Browser

INTERVAL_MS = 250
SIZE = 80  # the demonstration frames are 80 x 80 pixels
FRAME_COUNT = 13
STILL_FRAME = 8  # the demonstration's still picture


def start_demo_server():
    server = subprocess.Popen(
        [sys.executable, os.path.join(REPO, "tools", "demo_server.py"), "--port", "0",
         "--interval", str(INTERVAL_MS), "--bridge", os.environ["WHIRLO_BRIDGE"],
         "--program", os.environ["WHIRLO_PROGRAM"]],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline()
    found = re.search(r"http://127\.0\.0\.1:\d+/", line)
    if not found:
        stop(server)
        raise RuntimeError("demo server did not start: " + line)
    return server, found.group(0)


class Screens:
    """One browser with the screenshots of every frame file as references."""

    def __init__(self, address, user_agent=None):
        self.address = address
        self.browser = Browser(user_agent=user_agent)
        self.frames = {}
        self.browser.navigate(self.address + "view.html?frame=whirlo1.gif")
        self.browser.wait_for("document.readyState === 'complete'")
        for number in range(1, FRAME_COUNT + 1):
            self.browser.evaluate("document.getElementById('pic').src = "
                                  "'/frames/whirlo%d.gif'" % number)
            self.browser.wait_for(
                "(p => p.complete && p.naturalWidth > 0 && "
                "p.src.endsWith('/whirlo%d.gif'))(document.getElementById('pic'))"
                % number)
            self.frames[self.new_picture()] = number

    def new_picture(self, timeout=5):
        """The picture once the compositor shows one not seen before."""
        deadline = time.monotonic() + timeout
        while True:
            picture = self.picture()
            if picture not in self.frames or time.monotonic() > deadline:
                return picture
            time.sleep(0.02)

    def open_query(self, query, folder="cgi-bin"):
        self.browser.navigate("about:blank")
        self.browser.navigate(self.address + "view.html?" + urllib.parse.urlencode(
            {"q": query, "folder": folder}))

    def picture(self):
        return self.browser.screenshot(0, 0, SIZE, SIZE)[2]

    def frame_shown(self):
        """The frame the picture shows now, or None (nothing yet)."""
        return self.frames.get(self.picture())

    def close(self):
        self.browser.close()


class Browser_(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.address = start_demo_server()

    @classmethod
    def tearDownClass(cls):
        stop(cls.server)

    def screens(self, user_agent=None):
        screens = Screens(self.address, user_agent)
        self.addCleanup(screens.close)
        self.assertEqual(len(screens.frames), FRAME_COUNT, "frames must look different")
        return screens

    def test_paced_animation_steps_through_the_frames_to_the_last(self):
        screens = self.screens()
        screens.open_query("")
        shown = []
        deadline = time.monotonic() + FRAME_COUNT * INTERVAL_MS / 1000 + 5
        while time.monotonic() < deadline:
            frame = screens.frame_shown()
            if frame is None and shown:
                self.fail("picture is no frame after frame %d" % shown[-1])
            if frame is not None and (not shown or shown[-1] != frame):
                shown.append(frame)
            if frame == FRAME_COUNT:
                break
        self.assertEqual(shown, sorted(shown), "frames out of order: %s" % shown)
        self.assertGreaterEqual(len(shown), 5, "too few frames seen: %s" % shown)
        self.assertEqual(shown[-1], FRAME_COUNT)
        time.sleep(2 * INTERVAL_MS / 1000)
        self.assertEqual(screens.frame_shown(), FRAME_COUNT, "must end on the last")

    def test_viewer_not_on_the_list_gets_the_still_picture(self):
        screens = self.screens(user_agent="Lynx/2.8.9rel.1 libwww-FM/2.14")
        screens.open_query("")
        screens.browser.wait_for("document.getElementById('pic').complete")
        time.sleep(2 * INTERVAL_MS / 1000)
        self.assertEqual(screens.frame_shown(), STILL_FRAME)


if __name__ == "__main__":
    unittest.main()
