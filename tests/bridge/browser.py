"""Real browser windows on a virtual screen, and what they show over time.

Xvfb keeps its screen in a file (-fbdir, XWD format), so the pixels can be
read straight from memory every few milliseconds while a stream plays. Each
browser is a real window in a fresh profile, opened on one address; no
window manager runs, so a window sits at the top left of the screen.
"""

import mmap
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from lib.machine import QUIET_SHARE, WaitMeter, wait_until_quiet
from lib.xvfb import Xvfb, stop_group

SCREEN = (640, 480)

# Seconds between the parts of a watched stream. A browser on a busy machine
# may paint a picture's first frame a few hundred milliseconds after it
# arrived (Firefox was seen 0.25 s late while other test runs kept both
# cores busy), which takes that much off the frame's time on screen; at
# 0.8 s a frame still shows for at least half the interval then, while one
# that is skipped or merged into the next shows for no time at all.
FRAME_INTERVAL = 0.8

# A page's pictures (img data-src) start a while after it has loaded, when
# a browser that has just started is no longer busy with itself (Firefox,
# started fresh, stalls its painting now and then in its first seconds).
START_PICTURES = """addEventListener("load", () => setTimeout(() => {
  for (const img of document.images) img.src = img.dataset.src;
}, 3000));"""

# A fresh profile opens no first-run, update or telemetry page.
FIREFOX_PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": False,
    "startup.homepage_welcome_url": "",
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.policy.firstRunURL": "",
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.enabled": False,
    "app.normandy.enabled": False,
    "extensions.update.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.sessionstore.resume_from_crash": False,
}


def find_program(name, package):
    path = shutil.which(name)
    if not path:
        raise RuntimeError("%s is not installed (Debian package: %s)" % (name, package))
    return path


class Display(Xvfb):
    """An Xvfb screen whose pixels are read from its framebuffer file."""

    def __init__(self):
        super().__init__(SCREEN, framebuffer=True)
        with open(self.framebuffer, "rb") as screen:
            self.memory = mmap.mmap(screen.fileno(), 0, access=mmap.ACCESS_READ)
        self.parse_header()

    def parse_header(self):
        fields = struct.unpack(">25I", self.memory[:100])
        header_size, depth, bits_per_pixel = fields[0], fields[3], fields[11]
        self.byte_order, self.stride, colours = fields[7], fields[12], fields[19]
        if depth != 24 or bits_per_pixel != 32:
            raise RuntimeError("unexpected Xvfb screen layout %r" % (fields,))
        self.pixels = header_size + 12 * colours

    def pixel(self, x, y):
        """(red, green, blue) on the screen at x, y."""
        at = self.pixels + y * self.stride + 4 * x
        b, g, r = self.memory[at:at + 3] if self.byte_order == 0 else \
            self.memory[at + 3:at:-1]
        return r, g, b

    def close(self):
        if getattr(self, "memory", None):
            self.memory.close()
        super().close()


class Window:
    """One browser, chromium or firefox, showing url on display. It opens
    once the machine is quiet (lib.machine): a browser that queues for the
    CPUs paints frames late."""

    def __init__(self, engine, display, url):
        wait_until_quiet("a %s window" % engine)
        self.profile = tempfile.mkdtemp(prefix="whirlo-%s-" % engine)
        try:
            command = getattr(self, engine)(url)
        except RuntimeError:
            shutil.rmtree(self.profile)
            raise
        self.log = open(os.path.join(self.profile, "output.log"), "w+")
        self.process = subprocess.Popen(
            command, env=display.env(),
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            start_new_session=True)

    def chromium(self, url):
        # --test-type: no bar warning about --no-sandbox above the page.
        return [find_program("chromium", "chromium"), "--app=" + url,
                "--window-position=0,0", "--window-size=%d,%d" % SCREEN,
                "--user-data-dir=" + self.profile, "--no-first-run",
                "--no-default-browser-check", "--no-sandbox", "--test-type",
                "--force-device-scale-factor=1", "--password-store=basic"]

    def firefox(self, url):
        with open(os.path.join(self.profile, "user.js"), "w") as prefs:
            for name, value in FIREFOX_PREFS.items():
                prefs.write('user_pref("%s", %s);\n' % (
                    name, str(value).lower() if isinstance(value, bool) else '"%s"' % value))
        return [find_program("firefox-esr", "firefox-esr"), "--kiosk",
                "--no-remote", "--profile", self.profile, url]

    def close(self):
        stop_group(self.process)
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


def watch(display, points, classify, done, timeout, period=0.01):
    """Samples the screen at points {name: (x, y)} until done(runs) or the
    timeout; returns {name: [[value, first seen, last seen], ...]}, one entry
    per run of equal classify(pixel) values, times in seconds from the start."""
    runs = {name: [] for name in points}
    meter, start = WaitMeter(), time.monotonic()
    while time.monotonic() - start < timeout and not done(runs):
        now = time.monotonic() - start
        for name, (x, y) in points.items():
            value = classify(display.pixel(x, y))
            if runs[name] and runs[name][-1][0] == value:
                runs[name][-1][2] = now
            else:
                runs[name].append([value, now, now])
        time.sleep(period)
    share = meter.share()
    if share is not None and share > QUIET_SHARE:
        print("while the screen was watched, runnable tasks waited for a CPU "
              "%.0f %% of the time" % (100 * share), file=sys.stderr)
    return runs


def seen(runs):
    """Runs without the time before the picture's first frame."""
    while runs and runs[0][0] is None:
        runs = runs[1:]
    return runs


def timeline(runs):
    return ", ".join("%s at %.2f" % (value, first) for value, first, _ in runs)


def assert_played(case, runs, frames, interval, last_stays):
    """The runs of one picture (see watch) show exactly frames, in that
    order, each for at least half the interval (seconds), and the last for
    last_stays seconds."""
    shown = seen(runs)
    case.assertEqual([value for value, _, _ in shown], frames,
                     "frames seen: " + timeline(shown))
    for (value, first, _), (_, after, _) in zip(shown, shown[1:]):
        case.assertGreaterEqual(after - first, interval / 2, "frame %s on screen %.3f s: %s"
                                % (value, after - first, timeline(shown)))
    case.assertGreaterEqual(shown[-1][2] - shown[-1][1], last_stays,
                            "the last frame must stay: " + timeline(shown))
