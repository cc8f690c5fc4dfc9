"""Opens the generated help file in Wine's help viewer under Xvfb.

A small Windows program (help_probe.cc, built with the Windows build) asks
for topics through WinHelpA, as the installer does, and prints the text
of the topic that the viewer then shows. Checked:

- HELP_CONTENTS shows the contents topic with its links;
- HELP_CONTEXT N shows the topic "Error N" for every error number;
- Wine's WinHelpA accepts HELP_KEY but does nothing with it, so the
  keywords are checked through the viewer's Index dialog instead:
  "Setup", "Installation" and "Error 2001" each lead to their topic;
- every screenshot shows text (many colours from font smoothing) and
  differs from the others.

Screenshots of the help window go to the artefact folder:

    tests/run.py tests/help/wine_help_test.py --probe help_probe.exe \
        --help-file whirlo32.hlp --artefacts DIR --wine tools/wine
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

ERRORS = [1001, 1002, 1003, 1004, 1005, 2001, 2002]
TOOLS = ["wineserver", "Xvfb", "xdotool", "import", "identify", "compare"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class HelpSession(WineSession):
    def __init__(self, screen, wine, probe, workdir):
        super().__init__(screen.name, wine)
        self.screen = screen
        self.probe_program = os.path.abspath(probe)
        self.workdir = workdir

    def probe(self, *args):
        # Files, not pipes: the viewer that WinHelpA starts inherits them
        # and outlives the probe.
        out_path = os.path.join(self.workdir, "probe.out")
        with open(out_path, "wb") as out:
            run = self.run([self.probe_program] + list(args), stdout=out,
                           stderr=subprocess.STDOUT, timeout=120)
        with open(out_path, "rb") as f:
            text = f.read().decode("cp1252").replace("\r", "\n")
        return run.returncode, text

    def topic(self, *args):
        code, text = self.probe(*args)
        check(code == 0, "help_probe %s: no topic (%d): %s"
              % (" ".join(args), code, text.strip()))
        lines = [l for l in text.split("\n") if l.strip()]
        return lines

    def screenshot(self, path, settle=30):
        """The help window once it has stopped changing: two shots alike
        (the viewer repaints a while after the probe has its topic)."""
        deadline = time.monotonic() + settle
        previous = path + ".previous.png"
        while True:
            windows = self.screen.windows("Wine Help", visible=True)
            check(windows, "no help window on the display")
            self.screen.screenshot(windows[0], path)
            if os.path.exists(previous) and same_picture(previous, path):
                break
            check(time.monotonic() < deadline,
                  "the help window kept changing for %d s" % settle)
            shutil.copyfile(path, previous)
            time.sleep(0.3)
        os.remove(previous)
        colours = int(subprocess.run(["identify", "-format", "%k", path],
                                     capture_output=True, text=True, check=True).stdout)
        check(colours > 16, "%s looks blank (%d colours)" % (path, colours))


def expect_topic(lines, title, *phrases):
    check(lines and lines[0] == title, "expected topic %r, got %r" % (title, lines[:1]))
    body = " ".join(lines)
    for phrase in phrases:
        check(phrase in body, "topic %r lacks %r" % (title, phrase))


def contents_and_map_numbers(s, hlp, shots):
    expect_topic(s.topic("contents", hlp), "Whirlo-32 V1.2",
                 "Setup", "The configuration file", "The query language", "Error numbers")
    s.screenshot(os.path.join(shots, "contents.png"))
    for n in ERRORS:
        expect_topic(s.topic("context", hlp, str(n)), "Error %d" % n,
                     "WHL%d" % n, "Cause:", "What to do:")
    s.screenshot(os.path.join(shots, "error2002.png"))


def keywords(s, hlp, shots):
    code, text = s.probe("key", hlp, "Setup")
    check(code == 0, "WinHelpA(HELP_KEY) failed: " + text)
    expect_topic(s.topic("index", "Installation"), "Setup", "Windows CGI Path")
    expect_topic(s.topic("index", "Error 2001"), "Error 2001", "Allow Only")
    expect_topic(s.topic("index", "Query language"), "The query language",
                 "whirlo?.gif?R?start=5?end=10")
    s.screenshot(os.path.join(shots, "query-language.png"))
    expect_topic(s.topic("index", "Setup"), "Setup", "Animations Path", "pelk.ini")
    s.screenshot(os.path.join(shots, "setup.png"))


def same_picture(a, b):
    """Whether two image files show the same pixels (ImageMagick)."""
    run = subprocess.run(["compare", "-metric", "AE", a, b, "null:"],
                         capture_output=True, text=True)
    check(run.returncode in (0, 1), "compare failed: " + run.stderr)
    return run.returncode == 0


def distinct(shots):
    names = sorted(os.listdir(shots))
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            check(not same_picture(os.path.join(shots, a), os.path.join(shots, b)),
                  "%s and %s show the same" % (a, b))


class HelpViewer(unittest.TestCase):
    def test_contents_map_numbers_and_index_keywords(self):
        wine = given("wine")
        missing = [t for t in TOOLS + [shlex.split(wine)[0]] if not shutil.which(t)]
        self.assertEqual(missing, [], "tools/run-tests installs them")
        shots = os.path.join(given("artefacts"), "screenshots")
        shutil.rmtree(shots, ignore_errors=True)
        os.makedirs(shots)
        hlp = windows_path(given("help_file"))
        with tempfile.TemporaryDirectory() as work, Xvfb() as screen, \
                HelpSession(screen, wine, given("probe"), work) as session:
            try:
                contents_and_map_numbers(session, hlp, shots)
                keywords(session, hlp, shots)
                distinct(shots)
            except Failure as e:
                self.fail(str(e))
            finally:
                session.probe("quit", hlp)
