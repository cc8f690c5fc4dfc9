#!/usr/bin/env python3
"""End-to-end test of the Windows installer under Wine on a virtual X
server: keys are typed into the real settings dialog, its buttons and the
message boxes are answered from the keyboard, then the installed files,
pelk.ini and a request served by the installed whirlo32.exe are checked.
Screenshots of the open dialog and of each message box are kept in the
artefact folder.

The help file may be the real one or the placeholder; either is checked.
Needs Xvfb, xdotool and ImageMagick's import (Debian: xvfb, xdotool,
imagemagick) besides wine; fails, never skips, without them.

    tests/run.py tests/setup_e2e/test_setup_wine.py --setup setup.exe \
        --distribution DIR --artefacts DIR --wine tools/wine
"""
import os
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

from lib.given import given
from lib.programs import windows_path
from lib.wine import WineSession
from lib.xvfb import Xvfb

TITLE = "Whirlo-32 V1.2 Setup"
WAIT = 60          # seconds for a window to appear
SCREEN = None      # the Xvfb of this run
WINE = None        # the Wine session on it

STATUS = b"HTTP/1.0 200 OK\n"
BOUNDARY = b"\n--sometext\n"
MULTIPART = (b"Content-type: multipart/x-mixed-replace;boundary=sometext\n"
             + BOUNDARY)


def wait_for_new_window(pattern, known):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        fresh = set(SCREEN.windows(pattern)) - known
        if fresh:
            time.sleep(0.5)  # let it draw before keys and screenshots
            return fresh.pop()
        time.sleep(0.2)
    raise AssertionError("no new window named %r appeared" % pattern)


def screenshot(name, window):
    """The screen around `window` (message boxes open over the dialog)."""
    SCREEN.screenshot(window, os.path.join(given("artefacts"), name + ".png"))


def keys(window, *names):
    SCREEN.xdotool("windowfocus", "--sync", window)
    SCREEN.xdotool("key", "--delay", "50", *names)


def type_text(text):
    SCREEN.xdotool("type", "--delay", "20", text)


def setUpModule():
    global SCREEN, WINE
    wine = given("wine")
    missing = [tool for tool in ("Xvfb", "xdotool", "import", shlex.split(wine)[0],
                                 "wineserver") if not shutil.which(tool)]
    if missing:
        raise RuntimeError("missing: %s (Debian packages xvfb, xdotool, imagemagick, "
                           "wine)" % ", ".join(missing))
    SCREEN = Xvfb()
    try:
        WINE = WineSession(SCREEN.name, wine).__enter__()
    except BaseException:
        SCREEN.close()
        raise


def tearDownModule():
    WINE.__exit__(None, None, None)
    SCREEN.close()


class SetupUnderWine(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="whirlo-setup-wine-")
        self.addCleanup(shutil.rmtree, self.root)
        self.dist = os.path.join(self.root, "dist")
        shutil.copytree(given("distribution"), self.dist)
        self.cgi = os.path.join(self.root, "cgi")
        self.anim = os.path.join(self.root, "anim")
        os.mkdir(self.cgi)
        os.mkdir(self.anim)
        # The installer's start values come from C:\windows\pelk.ini.
        windows_ini = os.path.join(WINE.windows_directory(), "pelk.ini")
        if os.path.exists(windows_ini):
            os.remove(windows_ini)
        self.process = None

    def tearDown(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def start_setup(self):
        self.process = WINE.start([given("setup")],
                                  cwd=self.dist, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.dialog = wait_for_new_window(
            "^%s$" % TITLE.replace(".", "[.]"), set())
        self.known = {self.dialog}

    def answer_box(self, shot, *key_names, title=TITLE):
        box = wait_for_new_window("^%s$" % title.replace(".", "[.]"),
                                  self.known)
        self.known.add(box)
        if shot:
            screenshot(shot, self.dialog)
        keys(box, *key_names)

    def expect_help_contents(self, shot=None):
        """A real help file opens in Wine's help viewer; the placeholder
        makes the viewer report that it cannot read the file."""
        with open(os.path.join(self.dist, "whirlo32.hlp"), "rb") as f:
            real = f.read(4) == b"\x3f\x5f\x03\x00"
        if not real:
            keys(wait_for_new_window("^ERROR$", set()), "Return")
            return
        viewer = wait_for_new_window("^Wine Help$", set())
        if shot:
            screenshot(shot, viewer)
        self.assertFalse(SCREEN.windows("^ERROR$"))

    def finish(self):
        self.assertEqual(self.process.wait(timeout=WAIT), 1)

    def fill_fields(self, cgi, anim, referers=None, viewers=None):
        """Types into the fields in tab order; the dialog selects a
        field's text when it receives the focus, so typing replaces it.
        The focus stays in the last field: Return is the default button."""
        SCREEN.xdotool("windowfocus", "--sync", self.dialog)
        for index, text in enumerate((cgi, anim, referers, viewers)):
            if index:
                SCREEN.xdotool("key", "Tab")
            if text is not None:
                type_text(text)

    def press_ok(self):
        keys(self.dialog, "Return")

    def serve(self):
        data = os.path.join(self.root, "request.ini")
        output = os.path.join(self.root, "response.out")
        with open(data, "w") as f:
            f.write("[CGI]\r\nRequest Method=GET\r\nQuery String=\r\n"
                    "[Extra Headers]\r\nUser-Agent=Mozilla/5.0\r\n[System]\r\n"
                    "Output File=%s\r\n" % windows_path(output))
        run = WINE.run([os.path.join(self.cgi, "whirlo32.exe"),
                        windows_path(data)], cwd=self.cgi,
                       capture_output=True, timeout=WAIT)
        self.assertEqual(run.returncode, 0, run.stdout)
        with open(output, "rb") as f:
            return f.read()

    def read(self, *names):
        with open(os.path.join(*names), "rb") as f:
            return f.read()

    def test_first_then_repeated_installation(self):
        self.start_setup()
        screenshot("setup-dialog", self.dialog)
        self.fill_fields(windows_path(self.cgi), windows_path(self.anim) + "\\",
                         None, "Lynx")
        screenshot("setup-dialog-typed", self.dialog)
        self.press_ok()
        self.answer_box("viewer-question", "Return")  # OK: use Mozilla
        self.expect_help_contents("help-contents")
        self.answer_box("installed", "Return")
        self.finish()

        names = sorted(os.listdir(self.anim))
        self.assertEqual(sorted(os.listdir(self.cgi)),
                         ["pelk.ini", "whirlo32.exe"])
        self.assertEqual(len(names), 16, names)
        self.assertEqual(self.read(self.cgi, "whirlo32.exe"),
                         self.read(self.dist, "whirlo32._xe"))
        self.assertEqual(self.read(self.anim, "whirlo32.doc"),
                         self.read(self.dist, "whirlo32._oc"))
        profile = self.read(self.cgi, "pelk.ini").decode("latin-1")
        self.assertEqual(profile.splitlines(), [
            "[Whirl]",
            "Animation Path=%s\\" % windows_path(self.anim),
            "Allow Only=",
            "Allow Viewer=Mozilla",
            "CGI-WIN Path=%s\\" % windows_path(self.cgi)])

        frames = [self.read(self.anim, "whirlo%d.gif" % n)
                  for n in range(1, 14)]
        self.assertEqual(self.serve(), STATUS + MULTIPART + b"".join(
            b"Content-type: image/gif\n\n" + f + BOUNDARY for f in frames))

        # Again over the same folders: four single questions and the
        # picture question. No to the program, Yes to the rest.
        for name in ("whirlo32.exe",):
            with open(os.path.join(self.cgi, name), "wb") as f:
                f.write(b"changed")
        with open(os.path.join(self.anim, "whirlo7.gif"), "wb") as f:
            f.write(b"changed")
        self.start_setup()
        self.fill_fields(windows_path(self.cgi), windows_path(self.anim))
        self.press_ok()
        self.answer_box("exe-question", "n")
        for _ in range(3):
            self.answer_box(None, "Return")
        self.answer_box("picture-question", "Return")
        self.expect_help_contents()
        self.answer_box(None, "Return")
        self.finish()
        self.assertEqual(self.read(self.cgi, "whirlo32.exe"), b"changed")
        self.assertEqual(self.read(self.anim, "whirlo7.gif"), frames[6])

    def test_missing_animation_directory_refused_then_cancel(self):
        self.start_setup()
        self.fill_fields(windows_path(self.cgi),
                         windows_path(os.path.join(self.root, "new-anim")))
        self.press_ok()
        self.answer_box("create-question", "Escape")   # Cancel
        self.answer_box("invalid-animation-path", "Return")
        keys(self.dialog, "Escape")                     # the dialog's Cancel
        self.answer_box("cancelled", "Return", title="Whirlo-32 Setup")
        self.finish()
        self.assertEqual(os.listdir(self.cgi), [])
        self.assertFalse(os.path.exists(os.path.join(self.root, "new-anim")))

